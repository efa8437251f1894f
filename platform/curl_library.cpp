#include "platform/curl_library.h"

#include <dlfcn.h>

namespace platform {

namespace {

template <typename F>
bool Bind(void* handle, const char* name, F& out) {
  out = reinterpret_cast<F>(dlsym(handle, name));
  return out != nullptr;
}

const CurlLibrary* Load() {
  static CurlLibrary lib;
  void* h = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  if (h == nullptr) return nullptr;
  const bool ok = Bind(h, "curl_global_init", lib.global_init) && Bind(h, "curl_easy_init", lib.easy_init) &&
                  Bind(h, "curl_easy_setopt", lib.easy_setopt) && Bind(h, "curl_easy_perform", lib.easy_perform) &&
                  Bind(h, "curl_easy_cleanup", lib.easy_cleanup) &&
                  Bind(h, "curl_easy_strerror", lib.easy_strerror) &&
                  Bind(h, "curl_slist_append", lib.slist_append) &&
                  Bind(h, "curl_slist_free_all", lib.slist_free_all) && Bind(h, "curl_version_info", lib.version_info);
  if (!ok) {
    dlclose(h);
    return nullptr;
  }
  // The library stays loaded for the life of the process.
  return &lib;
}

}  // namespace

const CurlLibrary* CurlLibrary::Get() {
  static const CurlLibrary* lib = Load();
  return lib;
}

}  // namespace platform
