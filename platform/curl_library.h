// libcurl, loaded on first use (dlopen) rather than at program start: the library and its TLS
// and authentication dependencies make up most of a small daemon's memory, and most agents
// never send a mail. The mail layer calls libcurl only through this table.
//
// The types and constants come from <curl/curl.h>; the functions from "libcurl.so.4" at run
// time. When the library cannot be loaded, Get() answers null and the mail system counts as
// not present.
#pragma once

#include <curl/curl.h>

namespace platform {

struct CurlLibrary {
  CURLcode (*global_init)(long flags);
  CURL* (*easy_init)();
  CURLcode (*easy_setopt)(CURL* handle, CURLoption option, ...);
  CURLcode (*easy_perform)(CURL* handle);
  void (*easy_cleanup)(CURL* handle);
  const char* (*easy_strerror)(CURLcode code);
  curl_slist* (*slist_append)(curl_slist* list, const char* text);
  void (*slist_free_all)(curl_slist* list);
  curl_version_info_data* (*version_info)(CURLversion age);

  // The loaded library (loaded once per process, thread-safe), or null when it is missing.
  static const CurlLibrary* Get();
};

}  // namespace platform
