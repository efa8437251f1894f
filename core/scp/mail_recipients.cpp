#include "core/scp/mail_recipients.h"

#include <cstring>

#include "core/scp/record_writer.h"

int KT_MailRecipients::Add(const char* account, const char* name) {
  if (count_ >= kSlots) {
    LogError(ERR_MAIL_RECIPIENTS, FN_ADD, 1, count_);
    return -1;
  }
  if (account == nullptr || name == nullptr || *account == '\0' || *name == '\0') {
    LogError(ERR_MAIL_RECIPIENTS, FN_ADD, 2, 0);
    return -1;
  }
  if (std::strlen(account) > kRecordMaxText || std::strlen(name) > kRecordMaxText) {
    LogError(ERR_MAIL_RECIPIENTS, FN_ADD, 3, 0);
    return -1;
  }
  slots_[count_].account = std::string(account);
  slots_[count_].name = std::string(name);
  ++count_;
  return 0;
}

void KT_MailRecipients::Clear() {
  for (Entry& e : slots_) e = Entry{};
  count_ = 0;
  cursor_ = 0;
}

int KT_MailRecipients::IndexOf(const std::string& name) const {
  for (int i = 0; i < count_; ++i) {
    if (slots_[i].name && *slots_[i].name == name) return i;
  }
  return -1;
}

int KT_MailRecipients::GetAccountFor(const std::string& name, std::optional<std::string>& account) const {
  const int i = IndexOf(name);
  if (i < 0) return 0;
  account = slots_[i].account;
  return 1;
}

std::optional<std::string> KT_MailRecipients::GetRecipient(int i) const {
  if (i < 1 || i > count_) return std::nullopt;
  return slots_[i - 1].name;
}

std::optional<std::string> KT_MailRecipients::GetAccount(int i) {
  if (i < 1 || i > count_) {
    LogError(ERR_MAIL_RECIPIENTS, FN_GET_ACCOUNT, 1, i);
    return std::nullopt;
  }
  return slots_[i - 1].account;
}

int KT_MailRecipients::GetAt(int i, std::optional<std::string>& account, std::optional<std::string>& name) const {
  if (i < 0 || i >= count_) return -1;
  account = slots_[i].account;
  name = slots_[i].name;
  return 1;
}

int KT_MailRecipients::GetNext(std::optional<std::string>& account, std::optional<std::string>& name) {
  if (cursor_ < 0 || cursor_ >= count_) {
    cursor_ = 0;
    return -1;
  }
  account = slots_[cursor_].account;
  name = slots_[cursor_].name;
  ++cursor_;
  return 1;
}

std::string KT_MailRecipients::GetNames(uint32_t mask) const {
  std::string out;
  for (int i = 0; i < count_; ++i) {
    if ((mask & (1u << i)) == 0) continue;
    if (!out.empty()) out += ", ";
    if (slots_[i].name) out += *slots_[i].name;
  }
  return out;
}

void KT_MailRecipients::Replace(const Entry* entries, int count) {
  Clear();
  if (entries == nullptr || count <= 0) return;
  if (count > kSlots) count = kSlots;
  for (int i = 0; i < count; ++i) slots_[i] = entries[i];
  count_ = static_cast<uint8_t>(count);
}
