#include "library/zip/zip.h"

#include "library/com/bstr.h"
#include "library/com/frame.h"
#include "library/platform/hooks.h"
#include "library/platform/secret.h"

namespace vellum {
namespace {

using com::ArgKind;
using com::Omitted;

const std::vector<com::ParamInfo> kZipParams(const char* first, const char* second) {
  return {{first, ArgKind::kBstrRef, Omitted::kRequired},
          {second, ArgKind::kBstrRef, Omitted::kRequired},
          {"sPassword", ArgKind::kBstrRef, Omitted::kRequired}};
}

std::string Utf8Of(BSTR* text) {
  return com::BstrToUtf8(text != nullptr ? *text : nullptr);
}

}  // namespace

const com::DispatchTable<_Zip>& Zip::Table() {
  static const com::DispatchTable<_Zip> table = {
      {"ZipFile", dispid::kZipFile, kZipParams("sInputFileName", "outputfilename"),
       [](_Zip* s, com::InvokeArgs& a, VARIANT* r) {
         return com::BoolResult(r, [&](VARIANT_BOOL* b) {
           return s->ZipFile(a.BstrRef(0), a.BstrRef(1), a.BstrRef(2), b);
         });
       }},
      {"UnZipFile", dispid::kUnZipFile, kZipParams("sInputZipFileName", "OutputUnZipFileName"),
       [](_Zip* s, com::InvokeArgs& a, VARIANT* r) {
         return com::BoolResult(r, [&](VARIANT_BOOL* b) {
           return s->UnZipFile(a.BstrRef(0), a.BstrRef(1), a.BstrRef(2), b);
         });
       }},
  };
  return table;
}

HRESULT Zip::ZipFile(BSTR* sInputFileName, BSTR* outputfilename, BSTR* sPassword,
                     VARIANT_BOOL* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  if (result != nullptr) *result = com::VARIANT_FALSE;
  return Frame(
      this,
      [&] {
        std::string input = Utf8Of(sInputFileName);
        std::string output = Utf8Of(outputfilename);
        platform::SecretText password(Utf8Of(sPassword));
        bool done = logic_.ZipFile(input, output, password.get());
        if (result != nullptr) *result = done ? com::VARIANT_TRUE : com::VARIANT_FALSE;
      },
      [](const std::string& text) { platform::ShowMessage(text); });
}

HRESULT Zip::UnZipFile(BSTR* sInputZipFileName, BSTR* OutputUnZipFileName, BSTR* sPassword,
                       VARIANT_BOOL* result) {
  if (!OnOwnerThread()) return com::RPC_E_WRONG_THREAD;
  if (result != nullptr) *result = com::VARIANT_FALSE;
  return Frame(
      this,
      [&] {
        std::string input = Utf8Of(sInputZipFileName);
        std::string output = Utf8Of(OutputUnZipFileName);
        const std::string output_before = output;
        platform::SecretText password(Utf8Of(sPassword));
        bool done = logic_.UnZipFile(input, output, password.get());
        if (output != output_before) com::StoreBstrUtf8(OutputUnZipFileName, output);
        if (result != nullptr) *result = done ? com::VARIANT_TRUE : com::VARIANT_FALSE;
      },
      [](const std::string& text) { platform::ShowMessage(text); });
}

}  // namespace vellum
