// The settings record and the reading of zelk_config.txt.
//
// The file is read once at start-up, before any other thread exists; the record
// is only read afterwards, so it needs no lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The default download invitation of "comment", and the built-in advertisement.
std::string DefaultComment();
std::string DefaultAdvertText();

struct SettingsRecord {
  std::string RconHost;
  int32_t RconPort = 0;
  std::string RconPass;
  int32_t BanTime = 0;
  bool AllowScreens = false;
  uint8_t ScreenQuality = 40;
  uint8_t ScreenInterval = 12;  // minutes
  std::string ScreenDir;
  std::string ClientVersion = "0.0.0";
  std::string Comment = DefaultComment();
  std::string ClientId;  // capacity 128
  bool ProcsEnabled = false;
  std::string ProcsDir;
  std::string FtpUserName;  // capacity 124
  std::string FtpPass;      // capacity 124
  std::string FtpHost;      // capacity 124
  bool FtpConfigured = false;
  std::string RemotePass;  // capacity 32
  // Where the central registry listens ("registry_host"); loopback by default,
  // so that a fresh install sends nothing off the host.
  std::string RegistryHost = "127.0.0.1";
  int32_t RegistryPort = 27015;
  // Not settable from the file.
  std::string AdvertText = DefaultAdvertText();
  bool Registered = false;  // set by the start-up registration, main thread only
};

extern SettingsRecord Settings;

// Puts every field back to its default (tests).
void ResetSettings();

// Reads zelk_config.txt from the data directory into Settings, printing the
// messages of bad lines. False when the file does not exist (after printing
// the line that says so). Main thread only.
bool LoadConfig();
// Applies one setting line. Main thread only.
void ApplyConfigLine(const std::string& line);
// Field n (1 or 2) of a line: the text between its (2n-1)-th and 2n-th double quote.
std::string ExtractQuoted(const std::string& line, int n);
// The integer conversion of the numeric keys: optional leading blanks, an
// optional sign, decimal digits or hexadecimal digits after $, x, X, 0x or 0X,
// nothing after; decimal in the signed 32-bit range, hexadecimal as a 32-bit pattern.
std::optional<int32_t> ConvertInteger(const std::string& text);
// "/" and "\" become "/", and a final "/" is added; empty stays empty.
std::string NormaliseScreenDir(const std::string& dir);
