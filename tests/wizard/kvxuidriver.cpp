// kvxuidriver: a scripted user for a running KVXDiag2, for shell scripts. Commands run in order;
// the first that fails stops the run with exit code 1 and a message on stderr.
//
//   find [ms]                 wait for the wizard's window (default 30000 ms)
//   wait-page N [ms]          wait until page N is shown (default 30000 ms)
//   page                      print the page shown
//   click NAME                click a visible, enabled control (a button, check box or radio button)
//   set-text NAME TEXT        set an edit control's text
//   get-text NAME             print a control's text
//   answer-box yes|no|ok|cancel [ms]   click a button of the wizard's message box
//   shot FILE.bmp             photograph the window
//   close [ms]                close the window and wait for the process to end
#include "tests/wizard/WizardDriver.h"

#include "wizard/WizardControls.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::wstring Widen(const char* text)
{
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(size > 0 ? static_cast<size_t>(size) : 1, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], size);
    out.resize(wcslen(out.c_str()));
    return out;
}

std::string Narrow(const std::wstring& text)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? static_cast<size_t>(size) : 1, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    out.resize(strlen(out.c_str()));
    return out;
}

DWORD Milliseconds(int argc, char** argv, int& i, DWORD fallback)
{
    if (i + 1 < argc && argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9') {
        return static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
    }
    return fallback;
}

int Fail(const char* command, const char* detail)
{
    std::fprintf(stderr, "kvxuidriver: %s failed%s%s\n", command, detail[0] != '\0' ? ": " : "", detail);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    kvxtest::CWizardDriver driver;
    bool attached = false;
    auto attach = [&]() { return attached || (attached = driver.Attach(30000)); };

    for (int i = 1; i < argc; ++i) {
        const std::string command = argv[i];
        if (command == "find") {
            if (!driver.Attach(Milliseconds(argc, argv, i, 30000))) {
                return Fail("find", "no wizard window");
            }
            attached = true;
        } else if (command == "wait-page" && i + 1 < argc) {
            const int page = std::atoi(argv[++i]);
            if (!attach() || !driver.WaitForPage(page, Milliseconds(argc, argv, i, 30000))) {
                char detail[64];
                std::snprintf(detail, sizeof(detail), "page %d not reached (now %d)", page, driver.PageIndex());
                return Fail("wait-page", detail);
            }
        } else if (command == "page") {
            if (!attach()) {
                return Fail("page", "no wizard window");
            }
            std::printf("%d\n", driver.PageIndex());
        } else if (command == "click" && i + 1 < argc) {
            const char* name = argv[++i];
            const int id = kvxui::ControlId(name);
            if (id == 0 || !attach() || !driver.Click(id)) {
                return Fail("click", name);
            }
        } else if (command == "set-text" && i + 2 < argc) {
            const char* name = argv[++i];
            const std::wstring text = Widen(argv[++i]);
            const int id = kvxui::ControlId(name);
            if (id == 0 || !attach() || !driver.SetText(id, text)) {
                return Fail("set-text", name);
            }
        } else if (command == "get-text" && i + 1 < argc) {
            const char* name = argv[++i];
            const int id = kvxui::ControlId(name);
            if (id == 0 || !attach()) {
                return Fail("get-text", name);
            }
            std::printf("%s\n", Narrow(driver.Text(id)).c_str());
        } else if (command == "answer-box" && i + 1 < argc) {
            const std::string which = argv[++i];
            const int button = which == "yes" ? IDYES : which == "no" ? IDNO : which == "ok" ? IDOK : IDCANCEL;
            const HWND box = attach() ? driver.WaitForMessageBox(Milliseconds(argc, argv, i, 30000)) : nullptr;
            if (box == nullptr || !kvxtest::CWizardDriver::AnswerMessageBox(box, button)) {
                return Fail("answer-box", which.c_str());
            }
        } else if (command == "shot" && i + 1 < argc) {
            const char* path = argv[++i];
            if (!attach() || !driver.Screenshot(Widen(path))) {
                return Fail("shot", path);
            }
        } else if (command == "close") {
            if (!attach() || !driver.Close(Milliseconds(argc, argv, i, 30000))) {
                return Fail("close", "the wizard did not end");
            }
        } else {
            return Fail(command.c_str(), "unknown command or missing argument");
        }
        std::fflush(stdout);
    }
    return 0;
}
