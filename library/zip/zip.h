// Zip: compresses one file under a password and extracts such an archive into the folder
// "UnZip" beside it. The one piece of state is the code of the last run (lLastResult).
#pragma once

#include "library/com/object.h"
#include "library/zip/zip_logic.h"
#include "vellum/vellum.h"

namespace vellum {

class Zip final : public com::ComObject<Zip, _Zip> {
 public:
  static const com::IID& Iid() { return IID__Zip; }
  static const com::DispatchTable<_Zip>& Table();

  HRESULT ZipFile(BSTR* sInputFileName, BSTR* outputfilename, BSTR* sPassword,
                  VARIANT_BOOL* result) override;
  HRESULT UnZipFile(BSTR* sInputZipFileName, BSTR* OutputUnZipFileName, BSTR* sPassword,
                    VARIANT_BOOL* result) override;

  std::int32_t lLastResult() const { return logic_.lLastResult(); }

 private:
  ZipLogic logic_;
};

}  // namespace vellum
