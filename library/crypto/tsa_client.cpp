// The HTTP exchange with a time-stamping authority (RFC 3161 section 3.4), on libcurl.
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>

#include "library/crypto/timestamp.h"
#include "library/platform/error.h"

namespace vellum::crypto {
namespace {

// The owners of libcurl's handles, as ossl.h owns OpenSSL's.
using CurlPtr = std::unique_ptr<CURL, ossl::Deleter<curl_easy_cleanup>>;
using CurlListPtr = std::unique_ptr<curl_slist, ossl::Deleter<curl_slist_free_all>>;

constexpr long kMostRedirects = 3;
// HTTP and HTTPS only, for the first request and for every redirect: a token never comes from
// a file, an FTP server or anything else a redirect could name.
constexpr const char* kSchemes = "http,https";

void EnsureCurl() {
  static std::once_flag once;
  std::call_once(once, [] { (void)curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The body as it arrives; one byte over the bound ends the transfer.
struct Answer {
  Bytes body;
  bool too_large = false;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  auto* answer = static_cast<Answer*>(user);
  const std::size_t n = size * count;
  if (answer->body.size() + n > kLargestAnswer) {
    answer->too_large = true;
    return 0;  // libcurl ends the transfer with CURLE_WRITE_ERROR
  }
  answer->body.append(data, n);
  return n;
}

[[noreturn]] void Unreachable(const TimestampAuthority& authority, const std::string& why) {
  throw Error::Component(kTimestampUnreachable,
                         "The time-stamping authority " + authority.url + " " + why + ".");
}

}  // namespace

bool IsWebAddress(std::string_view url) {
  std::string scheme;
  for (char c : url.substr(0, url.find(':')))
    scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return url.find("://") == scheme.size() && (scheme == "http" || scheme == "https");
}

Bytes PostTimestampQuery(const TimestampAuthority& authority, std::string_view query) {
  if (!IsWebAddress(authority.url))
    throw Error::Component(kTimestampBadUrl, "The time-stamping authority's address \"" +
                                                 authority.url + "\" is no http or https URL.");
  EnsureCurl();
  CurlPtr curl(curl_easy_init());
  CurlListPtr headers(curl_slist_append(nullptr, "Content-Type: application/timestamp-query"));
  if (headers) {
    curl_slist* more = curl_slist_append(headers.get(), "Accept: application/timestamp-reply");
    if (more == nullptr) headers.reset();
  }
  if (!curl || !headers) throw Error::Component(hr::kOutOfMemory, "Out of memory.");

  Answer answer;
  char error[CURL_ERROR_SIZE] = {};
  const long timeout = std::clamp(authority.timeout_seconds, 1L, kLongestTimeoutSeconds);
  CURL* c = curl.get();
  bool set = curl_easy_setopt(c, CURLOPT_URL, authority.url.c_str()) == CURLE_OK;
  set = set && curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, kSchemes) == CURLE_OK;
  set = set && curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, kSchemes) == CURLE_OK;
  set = set && curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
  set = set && curl_easy_setopt(c, CURLOPT_MAXREDIRS, kMostRedirects) == CURLE_OK;
  // A redirected query is still a POST of the same body.
  set = set && curl_easy_setopt(c, CURLOPT_POSTREDIR, CURL_REDIR_POST_ALL) == CURLE_OK;
  set = set && curl_easy_setopt(c, CURLOPT_POSTFIELDS, query.data()) == CURLE_OK;
  set = set && curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE,
                                static_cast<curl_off_t>(query.size())) == CURLE_OK;
  set = set && curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK;
  set = set && curl_easy_setopt(c, CURLOPT_TIMEOUT, timeout) == CURLE_OK;
  set = set && curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout) == CURLE_OK;
  set = set && curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE,
                                static_cast<curl_off_t>(kLargestAnswer)) == CURLE_OK;
  set = set && curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect) == CURLE_OK;
  set = set && curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer) == CURLE_OK;
  set = set && curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error) == CURLE_OK;
  // No signals: the library may run on any thread of its host.
  set = set && curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
  if (!set) Unreachable(authority, "cannot be asked: this libcurl lacks a needed option");

  const CURLcode done = curl_easy_perform(c);
  if (answer.too_large || done == CURLE_FILESIZE_EXCEEDED)
    throw Error::Component(kTimestampBadAnswer,
                           "The time-stamping authority's answer is larger than " +
                               std::to_string(kLargestAnswer / 1024) + " KiB.");
  if (done == CURLE_OPERATION_TIMEDOUT)
    throw Error::Component(kTimestampTimeout, "The time-stamping authority " + authority.url +
                                                  " did not answer within " +
                                                  std::to_string(timeout) + " seconds.");
  if (done == CURLE_UNSUPPORTED_PROTOCOL)
    Unreachable(authority, "redirected the request to an address that is no http or https URL");
  if (done != CURLE_OK)
    Unreachable(authority, std::string("could not be reached: ") +
                               (error[0] != '\0' ? error : curl_easy_strerror(done)));
  long status = 0;
  (void)curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) Unreachable(authority, "answered HTTP status " + std::to_string(status));
  return std::move(answer.body);
}

}  // namespace vellum::crypto
