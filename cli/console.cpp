#include "console.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace kx305cli {

namespace {

// Console state: set once by Init before any thread starts, then only read.
// The mutex keeps lines of the worker's and the main thread's output whole.
struct State {
    iconv_t toTerminal = reinterpret_cast<iconv_t>(-1);
    std::mutex converting;  // one conversion at a time: iconv keeps state
    bool progressShown = false;
    std::mutex mutex;
};

State& TheState() {
    static State state;
    return state;
}

bool WriteAll(FILE* stream, const std::string& text) {
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stream) != text.size()) return false;
    return std::fflush(stream) == 0;
}

}  // namespace

void Console::Init(bool raw) {
    State& state = TheState();
    if (raw) return;
    setlocale(LC_CTYPE, "");
    const char* codeset = nl_langinfo(CODESET);
    if (codeset == nullptr || *codeset == '\0' || std::strcmp(codeset, "CP1250") == 0) return;
    const std::string target = std::string(codeset) + "//TRANSLIT";
    state.toTerminal = iconv_open(target.c_str(), "CP1250");
}

std::string Console::ToTerminal(const std::string& text) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.converting);
    // Characters the terminal lacks come out as "?".
    return ConvertText(state.toTerminal, text, "?");
}

bool Console::Out(const std::string& text) {
    State& state = TheState();
    const std::string converted = ToTerminal(text);
    std::lock_guard<std::mutex> guard(state.mutex);
    if (state.progressShown) {
        WriteAll(stderr, "\r\x1b[K");
        state.progressShown = false;
    }
    return WriteAll(stdout, converted);
}

namespace {

// One line on stderr, replacing a progress line shown there.
void ErrorLine(const std::string& line) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.mutex);
    if (state.progressShown) {
        WriteAll(stderr, "\r\x1b[K");
        state.progressShown = false;
    }
    WriteAll(stderr, line + "\n");
}

}  // namespace

void Console::Error(const std::string& subject, const std::string& reason) {
    ErrorLine("kx305cli: " + subject + ": " + ToTerminal(reason));
}

void Console::Error(const std::string& text) { ErrorLine("kx305cli: " + text); }

void Console::Note(const std::string& text) { ErrorLine(ToTerminal(text)); }

bool Console::ProgressWanted() { return isatty(STDERR_FILENO) == 1; }

void Console::Progress(const std::string& text) {
    if (!ProgressWanted()) return;
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.mutex);
    WriteAll(stderr, "\r\x1b[K" + text);
    state.progressShown = !text.empty();
}

std::string ConvertText(iconv_t converter, const std::string& text, const char* replacement) {
    if (converter == reinterpret_cast<iconv_t>(-1) || text.empty()) return text;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    std::string in = text;
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, sizeof buffer - outLeft);
        if (result == static_cast<size_t>(-1) && errno != E2BIG) {
            out += replacement;
            ++inPtr;
            --inLeft;
        }
    }
    return out;
}

std::string SystemReason(int error) {
    // Only LC_CTYPE follows the environment, so the C library speaks
    // English ASCII here, which code page 1250 shares.
    return std::strerror(error);
}

}  // namespace kx305cli
