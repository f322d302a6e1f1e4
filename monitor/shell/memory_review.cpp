#include "shell/memory_review.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "instruments/catalogue.h"
#include "recording/export.h"
#include "recording/record_text.h"
#include "resources/messages.h"
#include "shell/registration.h"

namespace kx305mon {

namespace {

constexpr int32_t kStatusOk = 1;  // "Pomiar --> OK"

void StoreReadPath(AppContext& context, const std::string& path) {
    std::memset(context.readPath, 0, sizeof context.readPath);
    std::memcpy(context.readPath, path.data(), std::min(path.size(), sizeof context.readPath - 1));
}

}  // namespace

bool OpenReadFile(AppContext& context) {
    std::string path;
    {
        MutexLock guard(context.plumbing.lock);
        path = context.readPath;
        if (context.registrationFile && IsFileInUse(*context.registrationFile, context.registrationPath, path))
            return false;
    }
    std::unique_ptr<FileStream> file = OpenFile(path, FileMode::Reading);
    if (!file) return false;
    MutexLock guard(context.plumbing.lock);
    context.readFile = std::move(file);
    return true;
}

bool ConfirmReadSource(AppContext& context, bool useFileInUse, const std::string& editText) {
    {
        MutexLock guard(context.plumbing.lock);
        context.readFile.reset();
        StoreReadPath(context, useFileInUse ? std::string() : editText);
    }
    return useFileInUse || OpenReadFile(context);
}

int ReadRecordsForReview(AppContext& context) {
    std::unique_ptr<FileStream> readFile;
    int count;
    {
        MutexLock guard(context.plumbing.lock);
        FileStream* source = context.readFile ? context.readFile.get() : context.registrationFile.get();
        count = ReadRegistrationFile(source, context.records);
        readFile = std::move(context.readFile);
    }
    return count;  // readFile closes here, outside the lock
}

std::vector<ViewerRow> ViewerRows(const MemoryRecord& record, bool averageKX125) {
    ExportContext shown;
    shown.averageKX125 = averageKX125;
    std::vector<ViewerRow> rows;
    rows.reserve(record.entries.size());
    for (const MemoryEntry& entry : record.entries) {
        if (!IsExported(shown, entry)) continue;
        ViewerRow row;
        row.image = entry.status == kStatusOk ? kRowImageTick : kRowImageWarning;
        row.itemData = (static_cast<uint32_t>(entry.type) & 0xFF) << 24 |
                       (static_cast<uint32_t>(entry.quantity) & 0xFF) << 16 |
                       (static_cast<uint32_t>(entry.serial) & 0xFFFF);
        char name[200];
        InstrumentName(static_cast<uint32_t>(entry.type), name, sizeof name, true);
        row.instrument = name;
        row.serial = entry.serial >= INVALID_VALUE ? std::string("?????") : std::to_string(entry.serial);
        row.quantity = StringText(entry.quantity);
        row.result = std::string(entry.value, strnlen(entry.value, sizeof entry.value)) + " " +
                     UnitText(entry.quantity, UnitForm::Bare);
        row.status = StringText(entry.status);
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string RecordCaption(int index, int count, const CalendarTime& time, const NumberLocale& locale) {
    char head[64];
    std::snprintf(head, sizeof head, messages::kRecordCaption, index + 1, count);
    std::string caption = head + FormatRecordTime(time, RecordTimeStyle::Long, locale);
    if (caption.size() > kRecordCaptionLength) caption.resize(kRecordCaptionLength);
    return caption;
}

int StepRecord(ViewerStep step, int current, int count) {
    switch (step) {
    case ViewerStep::First:
        return 0;
    case ViewerStep::Previous:
        return current > 0 ? current - 1 : current;
    case ViewerStep::Next:
        return current < count - 1 ? current + 1 : current;
    case ViewerStep::Last:
        return count - 1;
    }
    return current;
}

}  // namespace kx305mon
