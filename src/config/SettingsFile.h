// SettingsFile: the service's INI file, around the store's load and save.
//
// At start-up it clears away the temporary files of saves that never finished, then loads. A
// file that holds something but none of the program's own sections (General, RFID, a reader
// section) may be another program's or damaged: its bytes are kept beside it as
// "VandoraINI.txt.bak" at once, the log says so, and the store starts empty, so that nothing of
// it is written back as settings. When the copy cannot be made the file is never replaced. A
// save that fails keeps the whole store in the recovery folder (the user's state folder), so
// that the settings read back from the engines are not lost, and message() says what failed and
// where the settings are.
//
// Results are 1 for success, 0 for failure. Not thread-safe: the main window's thread uses it.
#pragma once

#include <cstdint>
#include <string>

#include "config/IniStore.h"
#include "platform/AtomicFile.h"

namespace vandora {

class SettingsFile {
  public:
    // `recoveryFolder` ends with "/"; it is made (mode 0700) when a save needs it.
    SettingsFile(std::string path, std::string recoveryFolder);

    // Removes leftovers of interrupted saves and loads the file into the store (IniStore::load).
    // An unrecognised file is kept as the backup and leaves the store empty; the result is then
    // 0 and recognised() false.
    std::int32_t load(IniStore& store);
    // The last load found the program's own file (or no file at all).
    bool recognised() const { return !unrecognised_; }
    // Writes the store to the file (IniStore::save), keeping an unrecognised file first. On a
    // failure the store goes to the recovery folder instead, and message() tells.
    std::int32_t save(IniStore& store);
    std::int32_t save(IniStore& store, AtomicFileSystem& fs);

    const std::string& path() const { return path_; }
    std::string backupPath() const { return path_ + ".bak"; }
    std::string recoveryPath() const;
    // Why the last save failed and where the settings were kept; empty after a success.
    const std::string& message() const { return message_; }

  private:
    // Copies the file to the backup; 0, or the errno of the step that failed.
    int keepBackup(AtomicFileSystem& fs);
    std::string recover(const IniStore& store);

    std::string path_;
    std::string recoveryFolder_;
    // The loaded file was not recognised and has not been kept yet.
    bool backupPending_ = false;
    bool unrecognised_ = false;
    std::string message_;
};

}  // namespace vandora
