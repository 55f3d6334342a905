// The HttpPort and LearnerName settings: HKCU "SOFTWARE\keltrix\Orvane" on Windows
// (settings_win32.cpp), the per-user file $XDG_CONFIG_HOME/keltrix/Orvane.conf on POSIX
// (settings_posix.cpp). Read only, once, by the entry point, which hands them to the run.
#pragma once

#include <cstdint>
#include <string>

struct UserSettings {
  // HttpPort: the port the user asked for; 0 (the system chooses) when the setting is missing,
  // unreadable or malformed.
  std::uint32_t httpPort = 0;
  // LearnerName: the name a SCORM course is given for the learner instead of the account's; ""
  // when unset.
  std::wstring learnerName;
};

UserSettings ReadUserSettings();

// What the learner is told when no browser could be started: that, and how to choose one.
std::wstring NoBrowserMessage();

// The HttpPort of a settings file's text. Accepts lines "HttpPort=NUMBER" (blanks allowed around
// the name, the "=" and the number; CR line ends too; lines starting with "#" are comments),
// NUMBER decimal and at most 4294967295; the last such line wins. 0 when there is none or it is
// malformed.
std::uint32_t ParseHttpPortSetting(const std::string& text);

// The value of the last line "NAME=VALUE" of a settings file's text (lines as above), blanks
// around it removed, as UTF-8; "" when there is none.
std::string ParseSettingText(const std::string& text, const std::string& name);
