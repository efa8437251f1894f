#include "console/common/console_settings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTextStream>
#include <cstdlib>

namespace console {

namespace {

constexpr const char* kAgentPlatformFile = "/etc/vigil/agent-platform";

QString ConfigBase() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return QString::fromLocal8Bit(xdg);
  const char* home = std::getenv("HOME");
  return QString::fromLocal8Bit(home != nullptr && home[0] == '/' ? home : "/tmp") +
         QStringLiteral("/.config");
}

}  // namespace

QString SettingsFilePath(const QString& program) {
  return QDir::cleanPath(ConfigBase()) + QStringLiteral("/Brenvale/") + program + QStringLiteral(".ini");
}

ConsoleSettings::ConsoleSettings(const QString& program, const QString& path)
    : settings_(std::make_unique<QSettings>(path.isEmpty() ? SettingsFilePath(program) : path,
                                            QSettings::IniFormat)) {}

ConsoleSettings::~ConsoleSettings() = default;

int ConsoleSettings::ReadInt(const QString& group, const QString& key, int fallback) const {
  const QVariant v = settings_->value(group + QLatin1Char('/') + key);
  if (!v.isValid()) return fallback;
  bool ok = false;
  const int n = v.toString().trimmed().toInt(&ok);
  return ok ? n : fallback;
}

QString ConsoleSettings::ReadString(const QString& group, const QString& key, const QString& fallback) const {
  const QVariant v = settings_->value(group + QLatin1Char('/') + key);
  return v.isValid() ? v.toString() : fallback;
}

void ConsoleSettings::WriteInt(const QString& group, const QString& key, int value) {
  settings_->setValue(group + QLatin1Char('/') + key, value);
}

void ConsoleSettings::WriteString(const QString& group, const QString& key, const QString& value) {
  settings_->setValue(group + QLatin1Char('/') + key, value);
}

bool ConsoleSettings::Sync() {
  QDir().mkpath(QFileInfo(settings_->fileName()).absolutePath());
  settings_->sync();
  return settings_->status() == QSettings::NoError;
}

QString ConsoleSettings::Path() const {
  return settings_->fileName();
}

QString AgentPlatformFilePath() {
  const char* named = std::getenv("VIGIL_AGENT_PLATFORM");
  return named != nullptr && named[0] != '\0' ? QString::fromLocal8Bit(named)
                                              : QString::fromLatin1(kAgentPlatformFile);
}

AgentPlatforms ReadAgentPlatforms(const QString& path) {
  AgentPlatforms out;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return out;
  // A platform file is a few short lines; anything longer is not one.
  const QByteArray bytes = file.read(4096);
  for (const QByteArray& raw : bytes.split('\n')) {
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    if (line.compare(QLatin1String("Windows"), Qt::CaseInsensitive) == 0) out.windows = true;
    if (line.compare(QLatin1String("Netware"), Qt::CaseInsensitive) == 0) out.netware = true;
  }
  return out;
}

}  // namespace console
