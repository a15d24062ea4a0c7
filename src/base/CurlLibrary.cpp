// libcurl is loaded when the program first asks for it, not when it starts. With the
// libraries it brings along (TLS, Kerberos, LDAP, SSH, ...) it was a third of the
// program's start, paid by every command, and most commands (extract, parse, merge,
// lookup, the settings) never transfer anything.
//
// The functions below are the libcurl functions the program calls, under their own
// names: each hands its call to the library, which the first call loads and sets up
// (curl_global_init, once, whichever thread comes first). The set-up stays until the
// program ends.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

// The variadic functions take their last named argument as the enum libcurl declares.
// Every value of those enums fits an int, and an enum argument is passed exactly as an
// int; libcurl reads its own arguments this way. Clang still warns that va_start after
// a parameter of enum type is undefined, which in the language's letter it is.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wvarargs"
#endif

namespace {

struct Library {
  bool loaded = false;
  CURLcode initCode = CURLE_FAILED_INIT;
  decltype(&curl_global_init) globalInit = nullptr;
  decltype(&curl_global_cleanup) globalCleanup = nullptr;
  decltype(&curl_easy_init) easyInit = nullptr;
  decltype(&curl_easy_setopt) easySetopt = nullptr;
  decltype(&curl_easy_perform) easyPerform = nullptr;
  decltype(&curl_easy_cleanup) easyCleanup = nullptr;
  decltype(&curl_easy_getinfo) easyGetinfo = nullptr;
  decltype(&curl_easy_strerror) easyStrerror = nullptr;
  decltype(&curl_slist_append) slistAppend = nullptr;
  decltype(&curl_slist_free_all) slistFreeAll = nullptr;
  decltype(&curl_multi_init) multiInit = nullptr;
  decltype(&curl_multi_add_handle) multiAddHandle = nullptr;
  decltype(&curl_multi_remove_handle) multiRemoveHandle = nullptr;
  decltype(&curl_multi_perform) multiPerform = nullptr;
  decltype(&curl_multi_cleanup) multiCleanup = nullptr;
  decltype(&curl_multi_info_read) multiInfoRead = nullptr;
  decltype(&curl_multi_poll) multiPoll = nullptr;
  decltype(&curl_multi_wakeup) multiWakeup = nullptr;
  decltype(&curl_multi_socket_action) multiSocketAction = nullptr;
  decltype(&curl_multi_setopt) multiSetopt = nullptr;
  decltype(&curl_multi_assign) multiAssign = nullptr;
  decltype(&curl_share_init) shareInit = nullptr;
  decltype(&curl_share_setopt) shareSetopt = nullptr;
  decltype(&curl_share_cleanup) shareCleanup = nullptr;

  Library() {
    void* handle = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      std::fprintf(stderr, "quillberry: libcurl cannot be loaded: %s\n", ::dlerror());
      return;
    }
    bool all = true;
    auto find = [&](auto& function, const char* name) {
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(handle, name));
      if (!function) {
        std::fprintf(stderr, "quillberry: libcurl lacks %s\n", name);
        all = false;
      }
    };
    find(globalInit, "curl_global_init");
    find(globalCleanup, "curl_global_cleanup");
    find(easyInit, "curl_easy_init");
    find(easySetopt, "curl_easy_setopt");
    find(easyPerform, "curl_easy_perform");
    find(easyCleanup, "curl_easy_cleanup");
    find(easyGetinfo, "curl_easy_getinfo");
    find(easyStrerror, "curl_easy_strerror");
    find(slistAppend, "curl_slist_append");
    find(slistFreeAll, "curl_slist_free_all");
    find(multiInit, "curl_multi_init");
    find(multiAddHandle, "curl_multi_add_handle");
    find(multiRemoveHandle, "curl_multi_remove_handle");
    find(multiPerform, "curl_multi_perform");
    find(multiCleanup, "curl_multi_cleanup");
    find(multiInfoRead, "curl_multi_info_read");
    find(multiPoll, "curl_multi_poll");
    find(multiWakeup, "curl_multi_wakeup");
    find(multiSocketAction, "curl_multi_socket_action");
    find(multiSetopt, "curl_multi_setopt");
    find(multiAssign, "curl_multi_assign");
    find(shareInit, "curl_share_init");
    find(shareSetopt, "curl_share_setopt");
    find(shareCleanup, "curl_share_cleanup");
    if (!all) return;
    loaded = true;
    initCode = globalInit(CURL_GLOBAL_ALL);
  }
  ~Library() {
    if (loaded && initCode == CURLE_OK) globalCleanup();
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
};

// The library, loaded and set up by the first caller; the others wait for it.
const Library& Curl() {
  static const Library library;
  return library;
}

// Every call but the set-up needs the library: without it the program cannot go on,
// as it could not have started when it was linked to it.
const Library& Loaded() {
  const Library& library = Curl();
  if (!library.loaded) std::abort();
  return library;
}

// An option's value is a long, a pointer, a function or a curl_off_t, told by the
// range of its number; the multi options use the ranges of the easy ones.
template <class Code, class Option>
Code SetOption(Code (*set)(void*, Option, ...), void* handle, Option option, va_list args) {
  if (option < CURLOPTTYPE_OBJECTPOINT) return set(handle, option, va_arg(args, long));
  if (option < CURLOPTTYPE_FUNCTIONPOINT) return set(handle, option, va_arg(args, void*));
  if (option < CURLOPTTYPE_OFF_T) return set(handle, option, va_arg(args, void (*)()));
  if (option < CURLOPTTYPE_BLOB) return set(handle, option, va_arg(args, curl_off_t));
  return set(handle, option, va_arg(args, void*));
}

}  // namespace

CURLcode curl_global_init(long /*flags*/) {
  return Curl().initCode;
}

void curl_global_cleanup() {
  // The set-up is the loader's, and ends with the program.
}

CURL* curl_easy_init() {
  return Loaded().easyInit();
}

CURLcode curl_easy_setopt(CURL* curl, CURLoption option, ...) {
  const Library& library = Loaded();
  va_list args;
  va_start(args, option);
  const CURLcode code = SetOption(library.easySetopt, curl, option, args);
  va_end(args);
  return code;
}

CURLcode curl_easy_perform(CURL* curl) {
  return Loaded().easyPerform(curl);
}

void curl_easy_cleanup(CURL* curl) {
  Loaded().easyCleanup(curl);
}

// Every piece of information is written through a pointer.
CURLcode curl_easy_getinfo(CURL* curl, CURLINFO info, ...) {
  va_list args;
  va_start(args, info);
  void* to = va_arg(args, void*);
  va_end(args);
  return Loaded().easyGetinfo(curl, info, to);
}

const char* curl_easy_strerror(CURLcode code) {
  return Loaded().easyStrerror(code);
}

curl_slist* curl_slist_append(curl_slist* list, const char* text) {
  return Loaded().slistAppend(list, text);
}

void curl_slist_free_all(curl_slist* list) {
  Loaded().slistFreeAll(list);
}

CURLM* curl_multi_init() {
  return Loaded().multiInit();
}

CURLMcode curl_multi_add_handle(CURLM* multi, CURL* easy) {
  return Loaded().multiAddHandle(multi, easy);
}

CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* easy) {
  return Loaded().multiRemoveHandle(multi, easy);
}

CURLMcode curl_multi_perform(CURLM* multi, int* running) {
  return Loaded().multiPerform(multi, running);
}

CURLMcode curl_multi_cleanup(CURLM* multi) {
  return Loaded().multiCleanup(multi);
}

CURLMsg* curl_multi_info_read(CURLM* multi, int* queued) {
  return Loaded().multiInfoRead(multi, queued);
}

CURLMcode curl_multi_poll(CURLM* multi, curl_waitfd extra[], unsigned int extraCount, int timeoutMs,
                          int* ready) {
  return Loaded().multiPoll(multi, extra, extraCount, timeoutMs, ready);
}

CURLMcode curl_multi_wakeup(CURLM* multi) {
  return Loaded().multiWakeup(multi);
}

CURLMcode curl_multi_socket_action(CURLM* multi, curl_socket_t socket, int events, int* running) {
  return Loaded().multiSocketAction(multi, socket, events, running);
}

CURLMcode curl_multi_setopt(CURLM* multi, CURLMoption option, ...) {
  const Library& library = Loaded();
  va_list args;
  va_start(args, option);
  const CURLMcode code = SetOption(library.multiSetopt, multi, option, args);
  va_end(args);
  return code;
}

CURLMcode curl_multi_assign(CURLM* multi, curl_socket_t socket, void* data) {
  return Loaded().multiAssign(multi, socket, data);
}

CURLSH* curl_share_init() {
  return Loaded().shareInit();
}

// What is shared or unshared is named by an int (curl_lock_data); the lock functions
// are functions; everything else is a pointer.
CURLSHcode curl_share_setopt(CURLSH* share, CURLSHoption option, ...) {
  const Library& library = Loaded();
  va_list args;
  va_start(args, option);
  CURLSHcode code;
  if (option == CURLSHOPT_SHARE || option == CURLSHOPT_UNSHARE)
    code = library.shareSetopt(share, option, va_arg(args, int));
  else if (option == CURLSHOPT_LOCKFUNC || option == CURLSHOPT_UNLOCKFUNC)
    code = library.shareSetopt(share, option, va_arg(args, void (*)()));
  else
    code = library.shareSetopt(share, option, va_arg(args, void*));
  va_end(args);
  return code;
}

CURLSHcode curl_share_cleanup(CURLSH* share) {
  return Loaded().shareCleanup(share);
}
