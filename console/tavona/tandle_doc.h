// CTandleDoc: the console's document. It only carries the host name given on the command line
// (empty: the host is chosen at start-up, or it is the local agent).
#pragma once

#include <QString>

class CTandleDoc {
 public:
  CTandleDoc() = default;
  explicit CTandleDoc(const QString& hostName) : host_name_(hostName) {}
  const QString& HostName() const { return host_name_; }
  void SetHostName(const QString& name) { host_name_ = name; }

 private:
  QString host_name_;
};
