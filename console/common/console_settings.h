// A console's saved settings and what it knows of the installed agents.
//
// Settings: a QSettings INI file $XDG_CONFIG_HOME/Brenvale/<program>.ini (~/.config when the
// variable is unset or not absolute), values in named groups ("Initialization"). A value
// missing or not a number reads as the default given.
//
// Agent platforms: /etc/vigil/agent-platform (VIGIL_AGENT_PLATFORM names another file), one
// platform name a line: "Windows" (the local agent VigilNT), "Netware" (a remote server's
// agent). No file: neither is installed.
#pragma once

#include <QString>
#include <memory>

class QSettings;

namespace console {

// The INI file of a program: $XDG_CONFIG_HOME/Brenvale/<program>.ini.
QString SettingsFilePath(const QString& program);

class ConsoleSettings {
 public:
  // The settings of `program` ("Tavona"); `path` another file (tests).
  explicit ConsoleSettings(const QString& program, const QString& path = QString());
  ~ConsoleSettings();

  int ReadInt(const QString& group, const QString& key, int fallback) const;
  QString ReadString(const QString& group, const QString& key, const QString& fallback) const;
  void WriteInt(const QString& group, const QString& key, int value);
  void WriteString(const QString& group, const QString& key, const QString& value);
  // Writes what was changed to the file; false when it cannot be written.
  bool Sync();
  QString Path() const;

 private:
  std::unique_ptr<QSettings> settings_;
};

struct AgentPlatforms {
  bool windows = false;  // the local agent
  bool netware = false;  // a remote server's agent
};

// The file that lists the installed agent platforms.
QString AgentPlatformFilePath();
// Reads it; a missing or unreadable file lists neither. Lines compare without case, blanks
// around a name and lines starting with '#' are ignored.
AgentPlatforms ReadAgentPlatforms(const QString& path = AgentPlatformFilePath());

}  // namespace console
