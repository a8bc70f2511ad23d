// bench_boxes: the message boxes open on the workstation's desktop.
//
//   bench_boxes list     one line per box (below)
//   bench_boxes close    presses OK on every box, then waits (up to 10 s) for
//                        them to go; prints "closed N", exit code 1 if any stays
//
// A box is a visible top-level window of the dialog class "#32770". A list
// line is TAB-separated: "box", the window handle, the process id and the
// thread id of its owner, then its caption, its text (the static control
// holding the message) and its buttons' texts joined by "|", each as hex of
// its UTF-8 bytes ("-" when empty). Run it with the agent's DISPLAY: Wine
// keeps one desktop per X display.

#include <windows.h>

#include "bench_text.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

const int message_text_id = 0xFFFF;  // the message box's static text control

// WM_GETTEXT reads a control of another process too (GetWindowText would
// not), and the time-out keeps a hung program from hanging the bench.
std::wstring window_text(HWND window)
{
    std::vector<wchar_t> text(4096, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 2000, &copied))
        return std::wstring();
    return std::wstring(text.data(), copied < text.size() ? copied : text.size() - 1);
}

std::wstring class_of(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

struct BoxParts {
    std::wstring text;
    std::wstring buttons;
};

BOOL CALLBACK collect_part(HWND child, LPARAM parameter)
{
    BoxParts& parts = *reinterpret_cast<BoxParts*>(parameter);
    const std::wstring kind = class_of(child);
    const std::wstring text = window_text(child);
    if (kind == L"Button")
        parts.buttons += (parts.buttons.empty() ? L"" : L"|") + text;
    else if (kind == L"Static" && parts.text.empty() && !text.empty())
        parts.text = text;
    return TRUE;
}

BoxParts parts_of(HWND box)
{
    BoxParts parts;
    if (HWND message = GetDlgItem(box, message_text_id))
        parts.text = window_text(message);
    EnumChildWindows(box, collect_part, reinterpret_cast<LPARAM>(&parts));
    return parts;
}

BOOL CALLBACK collect_box(HWND window, LPARAM parameter)
{
    if (IsWindowVisible(window) && class_of(window) == L"#32770")
        reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
    return TRUE;
}

std::vector<HWND> open_boxes()
{
    std::vector<HWND> boxes;
    EnumWindows(collect_box, reinterpret_cast<LPARAM>(&boxes));
    return boxes;
}

int list_boxes()
{
    for (HWND box : open_boxes()) {
        DWORD process = 0;
        const DWORD thread = GetWindowThreadProcessId(box, &process);
        const BoxParts parts = parts_of(box);
        std::printf("box\t%p\t%lu\t%lu\t%s\t%s\t%s\n", static_cast<void*>(box), process, thread,
                    bench::hex_or_dash(bench::utf8(window_text(box))).c_str(), bench::hex_or_dash(bench::utf8(parts.text)).c_str(),
                    bench::hex_or_dash(bench::utf8(parts.buttons)).c_str());
    }
    return 0;
}

// The same as the user's click on OK, so the box's thread goes on as it
// would on a real desktop.
int close_all()
{
    const std::vector<HWND> boxes = open_boxes();
    for (HWND box : boxes) {
        HWND ok = GetDlgItem(box, IDOK);
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
    }
    std::size_t left = boxes.size();
    for (int i = 0; i < 200 && left; ++i) {
        Sleep(50);
        left = 0;
        for (HWND box : boxes)
            left += IsWindow(box) ? 1 : 0;
    }
    std::printf("closed %d\n", static_cast<int>(boxes.size() - left));
    if (left) {
        std::printf("error %d box(es) stayed open\n", static_cast<int>(left));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc == 2 ? argv[1] : "";
    if (command == "list")
        return list_boxes();
    if (command == "close")
        return close_all();
    std::printf("usage: bench_boxes list | close\n");
    return 2;
}
