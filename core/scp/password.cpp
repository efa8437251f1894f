#include "core/scp/password.h"

#include <cstring>
#include <new>

namespace {

// Function codes (class 19).
constexpr int32_t FN_CHANGE = 1;
constexpr int32_t FN_SET = 2;

}  // namespace

KT_Password::KT_Password() : password_(kDefaultPassword) {}

int KT_Password::Set(const char* text) {
  if (text == nullptr) {
    LogError(ERR_PASSWORD, FN_SET, 1, 0);
    return -1;
  }
  const size_t n = std::strlen(text);
  if (n == 0) {
    LogError(ERR_PASSWORD, FN_SET, 2, 0);
    return -1;
  }
  if (n > kMaxLength) {
    LogError(ERR_PASSWORD, FN_SET, 3, static_cast<int32_t>(n));
    return -1;
  }
  try {
    password_.emplace(text, n);
  } catch (const std::bad_alloc&) {
    LogError(ERR_PASSWORD, FN_SET, 4, GetSocketError());
    return -1;
  }
  return 1;
}

int KT_Password::Change(const char* newText, const char* oldText) {
  if (newText == nullptr || oldText == nullptr) {
    LogError(ERR_PASSWORD, FN_CHANGE, 1, 0);
    return -1;
  }
  if (!Check(oldText)) {
    LogError(ERR_PASSWORD, FN_CHANGE, 2, 0);
    return -1;
  }
  return Set(newText);
}

int KT_Password::Check(const char* text) const {
  return text != nullptr && password_.has_value() && *password_ == text ? 1 : 0;
}
