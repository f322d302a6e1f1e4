#include "shell/registration.h"

#include <cctype>
#include <cstring>
#include <mutex>

#include "shell/settings.h"

namespace kx305mon {

namespace {

constexpr uint32_t kRecordingIntervalOnChoice = 20;  // seconds

void StorePath(AppContext& context, const std::string& path) {
    std::memset(context.registrationPath, 0, sizeof context.registrationPath);
    std::memcpy(context.registrationPath, path.data(), path.size());
}

// The file in use chosen again: the existing-file question is answered on
// its own handle.
RecordingOpen ReuseFileInUse(AppContext& context, const std::string& path,
                             const std::function<ExistingFileChoice()>& ask) {
    const ExistingFileChoice choice = ask();
    if (choice == ExistingFileChoice::Cancel) return RecordingOpen::Cancelled;
    MutexLock guard(context.plumbing.lock);
    FileStream* file = context.registrationFile.get();
    if (file == nullptr) return RecordingOpen::Unavailable;  // gone meanwhile
    const bool placed =
        choice == ExistingFileChoice::Append ? file->SeekToEnd() : file->SeekToStart() && file->Truncate();
    if (!placed) return RecordingOpen::Unavailable;
    StorePath(context, path);
    context.recordingInterval = kRecordingIntervalOnChoice;
    return RecordingOpen::Opened;
}

RecordingOpen SwitchToNewFile(AppContext& context, const std::string& path,
                              const std::function<ExistingFileChoice()>& ask) {
    std::unique_ptr<FileStream> file;
    const RecordingOpen opened = OpenRecordingFile(path, false, ask, file);
    if (opened != RecordingOpen::Opened) return opened;
    std::unique_ptr<FileStream> previous;
    {
        MutexLock guard(context.plumbing.lock);
        previous = std::move(context.registrationFile);
        if (previous) previous->Flush();
        context.registrationFile = std::move(file);
        StorePath(context, path);
        context.recordingInterval = kRecordingIntervalOnChoice;
    }
    return RecordingOpen::Opened;  // `previous` closes here, outside the lock
}

}  // namespace

bool SameFilePath(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] == '/' ? '\\' : a[i];
        const char y = b[i] == '/' ? '\\' : b[i];
        if (std::tolower(static_cast<unsigned char>(x)) != std::tolower(static_cast<unsigned char>(y))) return false;
    }
    return true;
}

bool IsFileInUse(FileStream& open, const std::string& openPath, const std::string& path) {
    const FileIdentity inUse = open.Identity();
    const FileIdentity chosen = IdentifyFile(path);
    if (inUse.known && chosen.known) return inUse.SameFileAs(chosen);
    return SameFilePath(path, openPath);
}

RecordingOpen OpenRegistrationFile(AppContext& context, bool appendWithoutAsking,
                                   const std::function<ExistingFileChoice()>& ask) {
    std::string path;
    {
        MutexLock guard(context.plumbing.lock);
        if (context.registrationFile) return RecordingOpen::Opened;
        path = context.registrationPath;
    }
    std::unique_ptr<FileStream> file;
    const RecordingOpen opened = OpenRecordingFile(path, appendWithoutAsking, ask, file);
    if (opened == RecordingOpen::Opened) {
        MutexLock guard(context.plumbing.lock);
        context.registrationFile = std::move(file);
    }
    return opened;
}

RecordingOpen ConfirmRegistrationFile(AppContext& context, const std::string& editText,
                                      const std::function<ExistingFileChoice()>& ask, SettingsStore& store) {
    const std::string path = editText.substr(0, sizeof context.registrationPath - 1);
    bool inUse;
    {
        MutexLock guard(context.plumbing.lock);
        inUse = context.registrationFile != nullptr &&
                IsFileInUse(*context.registrationFile, context.registrationPath, path);
    }
    const RecordingOpen opened = inUse ? ReuseFileInUse(context, path, ask) : SwitchToNewFile(context, path, ask);
    if (opened != RecordingOpen::Opened) return opened;
    context.recordingEvent.Set();
    SaveSettings(context, store, kSettingsLogfile);
    return RecordingOpen::Opened;
}

}  // namespace kx305mon
