// kx305ui: the UI driver as sub-commands, for shell scripts running Windows
// programs under Wine (for example printing the live panel texts of the
// monitoring program).  Texts are printed in UTF-8 (--ansi: the raw bytes of
// the ANSI code page), one line per item, with tab, CR and LF escaped as
// \t, \r and \n.  Exit code 0 on success, 1 on failure with the reason on
// stderr, 2 on bad usage; "run" exits with the program's exit code.
#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <thread>

#include "uidriver.h"

namespace {

using namespace kx305::ui;

bool ansiOutput = false;

std::string ToUtf8(const std::string& ansi) {
    if (ansiOutput || ansi.empty()) return ansi;
    const int wide = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), w.data(), wide);
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, out.data(), n, nullptr, nullptr);
    return out;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return ToUtf8(out);
}

void Line(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

int Failed(const std::string& what) {
    std::fprintf(stderr, "kx305ui: %s: %s\n", what.c_str(), ToUtf8(LastError()).c_str());
    return 1;
}

std::string Hex(uintptr_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
    return text;
}

struct Target {
    std::string title;
    std::string className;
    int timeoutMs = 5000;
    std::optional<HWND> Window() const { return WaitForWindow({title, className, 0, true}, Milliseconds(timeoutMs)); }
};

void AddTarget(CLI::App* command, Target& target) {
    command->add_option("title", target.title, "exact title of the top-level window")->required();
    command->add_option("--class", target.className, "window class of the top-level window");
    command->add_option("--timeout-ms", target.timeoutMs, "how long to wait for the window")->capture_default_str();
}

}  // namespace

int main(int argc, char** argv) {
    // LF line ends for the shell scripts that read us.
    _setmode(_fileno(stdout), _O_BINARY);
    CLI::App app{
        "Drives Windows programs from outside: windows, controls, message boxes, clipboard, registry, DDE, "
        "screenshots, simulator control."};
    app.require_subcommand(1);
    app.add_flag("--ansi", ansiOutput, "print texts in the ANSI code page instead of UTF-8");
    int result = 0;

    // Processes.
    std::string program, workingDirectory;
    std::vector<std::string> arguments, environment;
    int runTimeoutMs = -1;
    auto addStart = [&](CLI::App* c) {
        c->add_option("program", program, "the .exe")->required();
        c->add_option("arguments", arguments, "its arguments");
        c->add_option("--cwd", workingDirectory, "working directory");
        c->add_option("--env", environment, "NAME=VALUE (empty value: remove)");
        c->prefix_command();
    };
    auto startOptions = [&] {
        StartOptions o;
        o.arguments = arguments;
        o.workingDirectory = workingDirectory;
        for (const std::string& e : environment) {
            const size_t eq = e.find('=');
            if (eq != std::string::npos) o.environment[e.substr(0, eq)] = e.substr(eq + 1);
        }
        return o;
    };
    CLI::App* run = app.add_subcommand("run", "start a program and wait for its end; exits with its exit code");
    addStart(run);
    run->add_option("--timeout-ms", runTimeoutMs, "kill it (exit code 1) after this long");
    run->callback([&] {
        auto process = Start(program, startOptions());
        if (!process) {
            result = Failed("run");
            return;
        }
        const auto code = process->WaitExit(Milliseconds(runTimeoutMs < 0 ? INFINITE : runTimeoutMs));
        if (!code) {
            process->Kill(1);
            result = Failed("run");
            return;
        }
        result = static_cast<int>(*code);
    });
    CLI::App* start = app.add_subcommand("start", "start a program and print its process id");
    addStart(start);
    start->callback([&] {
        auto process = Start(program, startOptions());
        if (!process) {
            result = Failed("start");
            return;
        }
        Line(std::to_string(process->id()));
    });

    // Windows and controls.
    Target target;
    int id = 0;
    CLI::App* wait = app.add_subcommand("wait-window", "wait until a visible window has this title; print its handle");
    AddTarget(wait, target);
    wait->callback([&] {
        const auto window = target.Window();
        if (!window)
            result = Failed("wait-window");
        else
            Line(Hex(reinterpret_cast<uintptr_t>(*window)));
    });

    bool longForm = false;
    CLI::App* controls = app.add_subcommand("controls", "one control per line: id, class, text (tab-separated)");
    AddTarget(controls, target);
    controls->add_flag("--long", longForm, "id, class, visible, enabled, checked (-1: not a check box), text");
    controls->callback([&] {
        const auto window = target.Window();
        if (!window) {
            result = Failed("controls");
            return;
        }
        for (const ControlInfo& c : ListControls(*window)) {
            std::string line = std::to_string(c.id) + "\t" + c.className + "\t";
            if (longForm)
                line += std::to_string(c.visible) + "\t" + std::to_string(c.enabled) + "\t" +
                        std::to_string(c.checked) + "\t";
            Line(line + Escaped(c.text));
        }
    });

    auto withControl = [&](CLI::App* c) {
        AddTarget(c, target);
        c->add_option("id", id, "control id")->required();
    };
    auto control = [&](const char* what) -> std::optional<HWND> {
        const auto window = target.Window();
        if (!window) {
            result = Failed(what);
            return std::nullopt;
        }
        const auto found = FindControl(*window, id);
        if (!found) result = Failed(what);
        return found;
    };

    CLI::App* click = app.add_subcommand("click", "click a button (BM_CLICK)");
    withControl(click);
    click->callback([&] {
        if (const auto c = control("click"); c && !Click(*c)) result = Failed("click");
    });
    CLI::App* command = app.add_subcommand("command", "post WM_COMMAND with this id to the window (menu commands)");
    AddTarget(command, target);
    command->add_option("id", id, "command id")->required();
    command->callback([&] {
        const auto window = target.Window();
        if (!window || !PostCommand(*window, id)) result = Failed("command");
    });

    std::string text;
    bool chars = false;
    CLI::App* type = app.add_subcommand("type", "replace an edit's text (WM_SETTEXT; --chars: WM_CHAR per character)");
    withControl(type);
    type->add_option("text", text, "the new text")->required();
    type->add_flag("--chars", chars, "type character by character");
    type->callback([&] {
        if (const auto c = control("type"); c && !(chars ? TypeChars(*c, text) : SetEditText(*c, text)))
            result = Failed("type");
    });

    int pickIndex = -1;
    std::string pickText;
    CLI::App* combo = app.add_subcommand("combo", "list a combo box's entries (* marks the selection), or pick one");
    withControl(combo);
    combo->add_option("--pick-index", pickIndex, "select this entry and notify CBN_SELCHANGE");
    combo->add_option("--pick", pickText, "select the entry with this text");
    combo->callback([&] {
        const auto c = control("combo");
        if (!c) return;
        if ((pickIndex >= 0 && !PickComboIndex(*c, pickIndex)) || (!pickText.empty() && !PickComboText(*c, pickText))) {
            result = Failed("combo");
            return;
        }
        const auto entries = ComboEntries(*c);
        const int selected = ComboSelection(*c).value_or(-1);
        if (!entries) {
            result = Failed("combo");
            return;
        }
        for (size_t i = 0; i < entries->size(); ++i)
            Line(std::to_string(i) + "\t" + (static_cast<int>(i) == selected ? "*" : "") + "\t" +
                 Escaped((*entries)[i]));
    });

    CLI::App* listview = app.add_subcommand("listview", "columns (first line), then one row per line: image, cells");
    withControl(listview);
    listview->callback([&] {
        const auto c = control("listview");
        if (!c) return;
        const auto content = ReadListView(*c);
        if (!content) {
            result = Failed("listview");
            return;
        }
        std::string header = "image";
        for (const ListViewColumn& col : content->columns)
            header += "\t" + Escaped(col.text) + "/" + std::to_string(col.width);
        Line(header);
        for (const ListViewRow& row : content->rows) {
            std::string line = std::to_string(row.image);
            for (const std::string& cell : row.cells) line += "\t" + Escaped(cell);
            Line(line);
        }
    });

    CLI::App* progress = app.add_subcommand("progress", "position low high of a progress bar");
    withControl(progress);
    progress->callback([&] {
        const auto c = control("progress");
        if (!c) return;
        const auto pos = ProgressPosition(*c);
        const auto range = ProgressRange(*c);
        if (!pos || !range)
            result = Failed("progress");
        else
            Line(std::to_string(*pos) + "\t" + std::to_string(range->low) + "\t" + std::to_string(range->high));
    });
    CLI::App* updown = app.add_subcommand("updown", "position low high of an up-down control");
    withControl(updown);
    updown->callback([&] {
        const auto c = control("updown");
        if (!c) return;
        const auto pos = UpDownPosition(*c);
        const auto range = UpDownRange(*c);
        if (!pos || !range)
            result = Failed("updown");
        else
            Line(std::to_string(*pos) + "\t" + std::to_string(range->low) + "\t" + std::to_string(range->high));
    });

    // Message boxes.
    unsigned long processId = 0;
    int boxTimeoutMs = 5000, press = 0;
    CLI::App* msgbox =
        app.add_subcommand("msgbox", "caption, text and buttons (id, text) of a message box; --press one");
    msgbox->add_option("--pid", processId, "only this process's boxes");
    msgbox->add_option("--timeout-ms", boxTimeoutMs, "how long to wait for one")->capture_default_str();
    msgbox->add_option("--press", press, "press the button with this id (IDOK 1, IDCANCEL 2, IDYES 6, IDNO 7)");
    msgbox->callback([&] {
        const auto box = WaitForMessageBox(processId, Milliseconds(boxTimeoutMs));
        if (!box) {
            result = Failed("msgbox");
            return;
        }
        Line(Escaped(box->caption));
        Line(Escaped(box->text));
        for (const MessageBoxButton& b : box->buttons) Line(std::to_string(b.id) + "\t" + Escaped(b.text));
        if (press && !PressMessageBoxButton(*box, press)) result = Failed("msgbox");
    });

    // Clipboard.
    int holdMs = 0;
    CLI::App* clipboard = app.add_subcommand("clipboard", "print the CF_TEXT text, or hold the clipboard open");
    clipboard->add_option("--hold-ms", holdMs, "keep the clipboard open this long instead");
    clipboard->callback([&] {
        if (holdMs > 0) {
            auto hold = ClipboardHold::Take();
            if (!hold) {
                result = Failed("clipboard");
                return;
            }
            std::this_thread::sleep_for(Milliseconds(holdMs));
            return;
        }
        auto bytes = ReadClipboard();
        if (!bytes) {
            result = Failed("clipboard");
            return;
        }
        bytes->resize(strnlen(bytes->c_str(), bytes->size()));
        const std::string out = ToUtf8(*bytes);
        std::fwrite(out.data(), 1, out.size(), stdout);
    });

    // Registry.
    std::string key, name, value;
    CLI::App* reg = app.add_subcommand("reg", "values of an HKEY_CURRENT_USER key");
    reg->require_subcommand(1);
    CLI::App* regGet = reg->add_subcommand("get", "name, type (REG_SZ/REG_DWORD/number), value; one per line");
    regGet->add_option("key", key)->required();
    regGet->callback([&] {
        const auto values = ReadRegistryValues(key);
        if (!values) {
            result = Failed("reg get");
            return;
        }
        for (const auto& [n, v] : *values) {
            std::string shown;
            if (const auto d = v.AsDword())
                shown = "REG_DWORD\t" + std::to_string(*d);
            else if (v.type == REG_SZ)
                shown = "REG_SZ\t" + Escaped(v.data);
            else
                shown = std::to_string(v.type) + "\t" + std::to_string(v.data.size()) + " bytes";
            Line(Escaped(n) + "\t" + shown);
        }
    });
    unsigned long dword = 0;
    CLI::App* regDword = reg->add_subcommand("set-dword", "write a REG_DWORD");
    regDword->add_option("key", key)->required();
    regDword->add_option("name", name)->required();
    regDword->add_option("value", dword)->required();
    regDword->callback([&] {
        if (!WriteRegistryDword(key, name, static_cast<DWORD>(dword))) result = Failed("reg set-dword");
    });
    CLI::App* regString = reg->add_subcommand("set-string", "write a REG_SZ");
    regString->add_option("key", key)->required();
    regString->add_option("name", name)->required();
    regString->add_option("value", value)->required();
    regString->callback([&] {
        if (!WriteRegistryString(key, name, value)) result = Failed("reg set-string");
    });
    CLI::App* regDelete = reg->add_subcommand("delete", "delete a key with its subkeys");
    regDelete->add_option("key", key)->required();
    regDelete->callback([&] {
        if (!DeleteRegistryTree(key)) result = Failed("reg delete");
    });

    // DDE.
    std::string service, topic, item, data;
    CLI::App* dde = app.add_subcommand("dde", "DDE client calls");
    dde->require_subcommand(1);
    auto conversation = [&](CLI::App* c) {
        c->add_option("service", service)->required();
        c->add_option("topic", topic)->required();
    };
    auto withConversation = [&](const char* what, const std::function<bool(DdeClient&, HCONV)>& f) {
        auto client = DdeClient::Create();
        const HCONV conv = client ? client->Connect(service, topic) : nullptr;
        if (!conv || !f(*client, conv)) result = Failed(what);
        if (conv) client->Disconnect(conv);
    };
    CLI::App* ddeRequest = dde->add_subcommand("request", "print an item's text");
    conversation(ddeRequest);
    ddeRequest->add_option("item", item)->required();
    ddeRequest->callback([&] {
        withConversation("dde request", [&](DdeClient& c, HCONV conv) {
            const auto answer = c.Request(conv, item);
            if (answer) Line(Escaped(*answer));
            return answer.has_value();
        });
    });
    CLI::App* ddePoke = dde->add_subcommand("poke", "poke text; exit 1 unless the server acknowledges (DDE_FACK)");
    conversation(ddePoke);
    ddePoke->add_option("item", item)->required();
    ddePoke->add_option("data", data)->required();
    ddePoke->callback([&] {
        withConversation("dde poke", [&](DdeClient& c, HCONV conv) {
            const PokeResult r = c.Poke(conv, item, data);
            Line("status " + Hex(r.status));
            return r.Accepted();
        });
    });
    CLI::App* ddeExecute = dde->add_subcommand("execute", "send a command string");
    conversation(ddeExecute);
    ddeExecute->add_option("command", data)->required();
    ddeExecute->callback(
        [&] { withConversation("dde execute", [&](DdeClient& c, HCONV conv) { return c.Execute(conv, data); }); });
    CLI::App* ddeInitiate =
        dde->add_subcommand("initiate", "broadcast WM_DDE_INITIATE; print service, topic per answer");
    ddeInitiate->add_option("--service", service, "empty: any");
    ddeInitiate->add_option("--topic", topic, "empty: any");
    ddeInitiate->callback([&] {
        const auto pairs = DdeInitiate(service, topic);
        if (!pairs) {
            result = Failed("dde initiate");
            return;
        }
        for (const DdePair& p : *pairs) Line(Escaped(p.service) + "\t" + Escaped(p.topic));
    });

    // Screenshots and simulators.
    std::string path;
    CLI::App* screenshot = app.add_subcommand("screenshot", "save the screen as a PNG file");
    screenshot->add_option("path", path)->required();
    screenshot->callback([&] {
        if (!SaveScreenshot(path)) result = Failed("screenshot");
    });
    std::string port;
    std::vector<std::string> words;
    CLI::App* sim = app.add_subcommand("sim", "send a control command to the simulator on a COM port; print its reply");
    sim->add_option("port", port, "COM5, \\\\.\\COM5")->required();
    sim->add_option("command", words, "the command words")->required();
    sim->callback([&] {
        std::string line;
        for (const std::string& w : words) line += (line.empty() ? "" : " ") + w;
        const auto reply = SimulatorCommand(port, line);
        if (!reply) {
            result = Failed("sim");
            return;
        }
        Line(*reply);
        if (reply->rfind("ok", 0) != 0) result = 1;
    });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    std::fflush(stdout);
    return result;
}
