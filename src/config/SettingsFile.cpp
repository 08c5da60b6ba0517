#include "config/SettingsFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "config/MqttSettings.h"
#include "config/SettingSections.h"
#include "platform/Log.h"

namespace vandora {

namespace {

// The file itself is made IniStore::kIniFileMode; the copies, which nobody else needs to read,
// are the user's alone.
constexpr mode_t kCopyMode = 0600;

// The sections that make a file the program's own: every save writes General, the reader and
// RFID sections carry what the terminal has, and an administrator may start a terminal's file
// with its broker section alone.
bool hasOwnSection(const IniStore& store) {
    for (const SectionDef* section : {&kGeneral, &kRfid, &kReaderCcd, &kReader2D, &kReader1DLr}) {
        if (store.findSection(ByteString(std::string(section->name).c_str())) != nullptr) {
            return true;
        }
    }
    return store.findSection(ByteString(std::string(kMqttSectionName).c_str())) != nullptr;
}

bool holdsSomething(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
}

std::string reason(int error) {
    return std::strerror(error);
}

// Makes the folder and any missing parents, private to the user.
int makeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1)) {
        std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return errno;
        }
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        return errno;
    }
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

}  // namespace

SettingsFile::SettingsFile(std::string path, std::string recoveryFolder)
    : path_(std::move(path)), recoveryFolder_(std::move(recoveryFolder)) {}

std::string SettingsFile::recoveryPath() const {
    std::size_t slash = path_.rfind('/');
    return recoveryFolder_ + (slash == std::string::npos ? path_ : path_.substr(slash + 1));
}

std::int32_t SettingsFile::load(IniStore& store) {
    AtomicFile(path_).removeLeftovers();
    std::int32_t loaded = store.load(path_);
    unrecognised_ = holdsSomething(path_) && !hasOwnSection(store);
    if (!unrecognised_) {
        return loaded;
    }
    // Whatever it holds is not settings: none of it may come back as a section at the next save.
    store.clear();
    backupPending_ = true;
    AtomicFileSystem fs;
    int error = keepBackup(fs);
    if (error == 0) {
        logMessage(LogLevel::Warning, path_ +
                                          " holds none of the program's settings; it was kept as " +
                                          backupPath() + " and a new settings file is started");
    } else {
        logMessage(LogLevel::Warning,
                   path_ + " holds none of the program's settings and could not be kept as " +
                       backupPath() + " (" + reason(error) + "); it will not be replaced");
    }
    return 0;
}

std::int32_t SettingsFile::save(IniStore& store) {
    AtomicFileSystem fs;
    return save(store, fs);
}

std::int32_t SettingsFile::save(IniStore& store, AtomicFileSystem& fs) {
    message_.clear();
    if (store.isEmpty()) {
        return 1;
    }
    if (backupPending_) {
        if (int error = keepBackup(fs); error != 0) {
            message_ = "Unable to keep the unrecognised INI file " + path_ + " as " + backupPath() +
                       " (" + reason(error) + "), so it was not replaced. " + recover(store);
            return 0;
        }
    }
    if (store.save(path_, fs) == 0) {
        message_ = "Unable to write the INI file " + path_ + " (" + reason(store.saveError()) +
                   ")." + " " + recover(store);
        return 0;
    }
    return 1;
}

int SettingsFile::keepBackup(AtomicFileSystem& fs) {
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
        backupPending_ = false;  // gone: nothing left to lose
        return 0;
    }
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    AtomicFile backup(backupPath(), kCopyMode);
    if (backup.write(bytes, fs) == 0) {
        return backup.lastError();
    }
    backupPending_ = false;
    return 0;
}

std::string SettingsFile::recover(const IniStore& store) {
    int error = makeFolders(recoveryFolder_);
    if (error == 0) {
        AtomicFile copy(recoveryPath(), kCopyMode);
        if (copy.write(store.fileBytes()) != 0) {
            return "The settings were kept in " + recoveryPath() + ".";
        }
        error = copy.lastError();
    }
    return "The settings could not be kept in " + recoveryPath() + " either (" + reason(error) +
           ") and are lost.";
}

}  // namespace vandora
