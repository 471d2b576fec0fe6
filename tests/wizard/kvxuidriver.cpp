// kvxuidriver: a scripted user for a running KVXDiag2, for shell scripts. Commands run in order;
// the first that fails stops the run with exit code 1 and a message on stderr.
//
//   find [ms]                 wait for the wizard's window (default 30000 ms)
//   wait-page N [ms]          wait until page N is shown (default 30000 ms)
//   page                      print the page shown
//   click NAME                click a visible, enabled control (a button, check box or radio button)
//   post-click NAME           the same, posted: for a handler that opens a modal box or runs long
//   set-text NAME TEXT        set an edit control's text
//   get-text NAME             print a control's text
//   answer-box yes|no|ok|cancel [ms]   click a button of the wizard's message box
//   startup-box yes|no|ok|cancel [ms]
//                             the question the wizard may ask before its window is shown: answers it
//                             and prints its text, or prints "no box" once the window is shown without
//                             one (default 60000 ms to wait for either); fails only on a time-out
//   answer-box-if yes|no|ok|cancel [ms]
//                             answer-box for a box that may not come: prints its text, or "no box"
//                             when none appeared within the time (default 5000 ms); never fails
//   answer-basic fixed|not-fixed [ms]
//                             wait for the basic analysis's question (page 10 with the core waiting),
//                             choose the answer, press Next and wait until the page has gone
//   wait-exit [ms]            wait for the wizard's process to end
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

int ButtonId(const std::string& which)
{
    return which == "yes" ? IDYES : which == "no" ? IDNO : which == "ok" ? IDOK : IDCANCEL;
}

struct SFindBox {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindBoxOfProcess(HWND hwnd, LPARAM lParam)
{
    auto* find = reinterpret_cast<SFindBox*>(lParam);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(hwnd, &processId);
    wchar_t className[16];
    if (processId == find->processId && ::IsWindowVisible(hwnd) && ::GetClassNameW(hwnd, className, 16) != 0 &&
        lstrcmpW(className, L"#32770") == 0) {
        find->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The start-up question comes while the main window exists but is still hidden, so the usual attach
// (which waits for the shown window) cannot be used: the wizard's process is found by its window class.
// Once the window is shown without a question, a short grace time covers a question asked just after.
int StartupBox(const std::string& which, DWORD timeoutMs)
{
    constexpr double KVX_GRACE_MS = 2000.0;
    const double end = kvxtest::CWizardDriver::NowMs() + timeoutMs;
    double graceEnd = 0.0;
    for (;;) {
        const HWND form = ::FindWindowW(kvxui::KVXDIAG2_FORM_CLASS, nullptr);
        if (form != nullptr) {
            SFindBox find{0, nullptr};
            ::GetWindowThreadProcessId(form, &find.processId);
            ::EnumWindows(FindBoxOfProcess, reinterpret_cast<LPARAM>(&find));
            if (find.found != nullptr) {
                std::printf("%s\n", Narrow(kvxtest::CWizardDriver::MessageBoxText(find.found)).c_str());
                if (!kvxtest::CWizardDriver::AnswerMessageBox(find.found, ButtonId(which))) {
                    return Fail("startup-box", which.c_str());
                }
                return 0;
            }
            if (::IsWindowVisible(form) && graceEnd == 0.0) {
                graceEnd = kvxtest::CWizardDriver::NowMs() + KVX_GRACE_MS;
            }
        }
        const double now = kvxtest::CWizardDriver::NowMs();
        if (graceEnd != 0.0 && now >= graceEnd) {
            std::printf("no box\n");
            return 0;
        }
        if (now >= end) {
            return Fail("startup-box", "neither a question nor the wizard's window appeared");
        }
        ::Sleep(10);
    }
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
        } else if (command == "post-click" && i + 1 < argc) {
            const char* name = argv[++i];
            const int id = kvxui::ControlId(name);
            if (id == 0 || !attach() || !driver.PostClick(id)) {
                return Fail("post-click", name);
            }
        } else if (command == "startup-box" && i + 1 < argc) {
            const std::string which = argv[++i];
            if (StartupBox(which, Milliseconds(argc, argv, i, 60000)) != 0) {
                return 1;
            }
        } else if (command == "answer-box-if" && i + 1 < argc) {
            const std::string which = argv[++i];
            const int button = ButtonId(which);
            const DWORD timeout = Milliseconds(argc, argv, i, 5000);
            const HWND box = attach() ? driver.WaitForMessageBox(timeout) : nullptr;
            if (box == nullptr) {
                std::printf("no box\n");
            } else {
                std::printf("%s\n", Narrow(kvxtest::CWizardDriver::MessageBoxText(box)).c_str());
                if (!kvxtest::CWizardDriver::AnswerMessageBox(box, button)) {
                    return Fail("answer-box-if", which.c_str());
                }
            }
        } else if (command == "answer-basic" && i + 1 < argc) {
            const std::string which = argv[++i];
            const DWORD timeout = Milliseconds(argc, argv, i, 240000);
            const int page = kvxui::KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK;
            if (!attach() || !driver.WaitForPage(page, timeout) ||
                !driver.WaitForQuery(kvxui::eFormQuery_NOTIFY_DEPTH, 1, timeout)) {
                return Fail("answer-basic", "no question of the basic analysis");
            }
            const int choice = which == "fixed" ? kvxui::rbBAUserResponseFixed : kvxui::rbBAUserResponseNotFixed;
            if (!driver.Click(choice) || !driver.Click(kvxui::btNext)) {
                return Fail("answer-basic", which.c_str());
            }
            // The question page goes as soon as the answer is taken; a next question is a new page change.
            const double end = kvxtest::CWizardDriver::NowMs() + 30000;
            while (driver.PageIndex() == page && kvxtest::CWizardDriver::NowMs() < end) {
                ::Sleep(5);
            }
            if (driver.PageIndex() == page) {
                return Fail("answer-basic", "the answer was not taken");
            }
        } else if (command == "wait-exit") {
            if (!attach() || !driver.WaitForExit(Milliseconds(argc, argv, i, 30000))) {
                return Fail("wait-exit", "the wizard did not end");
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
