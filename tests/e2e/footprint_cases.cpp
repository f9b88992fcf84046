// What the program leaves behind: GDI objects over many repaints, and files
// in the folder it runs in or the user's profile.
#include "tests/e2e/cases.h"
#include "driver/figure.h"
#include "driver/support.h"

#include <map>

namespace e2e {

void GdiObjectsCase(RunningProgram& program, const Args&)
{
    if (RunningOnWine()) {
        Skip("GetGuiResources is a stub under Wine; the host unit tests prove every brush is deselected and deleted");
        return;
    }
    HWND hwnd = program.Window();
    ExpectFigure(hwnd, "before the repaints");
    const DWORD before = GetGuiResources(program.Process().Process(), GR_GDIOBJECTS);
    for (int i = 0; i < 10000; ++i)
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    const DWORD after = GetGuiResources(program.Process().Process(), GR_GDIOBJECTS);
    Note("GDI objects " + std::to_string(before) + " -> " + std::to_string(after) + " over 10000 repaints");
    CHECK(before > 0 && after <= before, "GDI objects grew from " + std::to_string(before) + " to " +
                                             std::to_string(after));
}

namespace {

struct Entry {
    ULONGLONG size;
    ULONGLONG written;
    bool operator==(const Entry& other) const { return size == other.size && written == other.written; }
};
using Tree = std::map<std::wstring, Entry>;

// Adds everything below dir to the tree; false when dir cannot be listed.
bool Walk(const std::wstring& dir, Tree& tree)
{
    if (dir.empty())
        return false;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = dir + L"\\" + name;
        const bool isDir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        tree[path] = Entry{isDir ? 0 : (ULONGLONG{found.nFileSizeHigh} << 32) | found.nFileSizeLow,
                           isDir ? 0 : (ULONGLONG{found.ftLastWriteTime.dwHighDateTime} << 32) |
                                           found.ftLastWriteTime.dwLowDateTime};
        if (isDir && !isLink)
            Walk(path, tree);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

std::wstring Environment(const wchar_t* name)
{
    wchar_t buffer[MAX_PATH] = {};
    GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return buffer;
}

}  // namespace

void WritesNothingCase(const Args& args)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring workDir = std::wstring(temp) + L"ambrelix-empty-" + std::to_wstring(GetCurrentProcessId());
    CHECK(CreateDirectoryW(workDir.c_str(), nullptr) != 0, "cannot make an empty folder to run in");
    // On Wine the profile is the prefix's user folder; the driver's own temp
    // folder lies inside it, so both are watched.
    const std::vector<std::wstring> roots = {workDir, Environment(L"USERPROFILE")};
    auto walkAll = [&](Tree& tree) {
        for (const std::wstring& root : roots)
            CHECK(Walk(root, tree), "cannot list \"" + Narrow(root) + "\"");
    };

    Tree before;
    walkAll(before);
    {
        RunningProgram program(args.program, Start().In(workDir.c_str()));
        if (program) {
            ExpectFigure(program.Window(), "started in an empty folder");
            for (const SIZE size : {SIZE{640, 480}, SIZE{301, 201}, SIZE{900, 700}})
                ResizeAndExpectFigure(program.Window(), size.cx, size.cy,
                                      std::to_string(size.cx) + "x" + std::to_string(size.cy));
        }
    }
    Tree after;
    walkAll(after);

    int changes = 0;
    for (const auto& [path, entry] : after) {
        const auto old = before.find(path);
        if (old == before.end() || !(old->second == entry)) {
            ++changes;
            Note((old == before.end() ? "created: " : "changed: ") + Narrow(path));
        }
    }
    for (const auto& [path, entry] : before)
        if (!after.count(path)) {
            ++changes;
            Note("deleted: " + Narrow(path));
        }
    Note(std::to_string(before.size()) + " files and folders watched under " + Narrow(roots[0]) + " and " +
         Narrow(roots[1]) + "; " + std::to_string(changes) + " changed");
    CHECK(!before.empty(), "nothing was watched");
    CHECK(changes == 0, std::to_string(changes) + " files or folders created, changed or deleted");
    RemoveDirectoryW(workDir.c_str());
}

}  // namespace e2e
