// The shipped executable as a file: its PE headers, read with <winnt.h>'s own
// structures and independent of the loader, judged also by the rules a
// Windows binary scanner applies; its manifest and version information read
// back through the platform's own API.
#include "tests/e2e/cases.h"
#include "driver/support.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace e2e {

namespace {

std::vector<unsigned char> ReadWholeFile(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The header fields we judge, the same for PE32 and PE32+.
struct Headers {
    IMAGE_FILE_HEADER file{};
    WORD magic = 0;
    WORD subsystem = 0;
    WORD dllCharacteristics = 0;
    WORD osMajor = 0, osMinor = 0, subsystemMajor = 0, subsystemMinor = 0;
    IMAGE_DATA_DIRECTORY directories[IMAGE_NUMBEROF_DIRECTORY_ENTRIES]{};
};

class PeImage {
public:
    explicit PeImage(std::vector<unsigned char> bytes) : bytes_(std::move(bytes))
    {
        IMAGE_DOS_HEADER dos{};
        if (!Read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
            return;
        const size_t nt = static_cast<size_t>(dos.e_lfanew);
        DWORD signature = 0;
        if (!Read(nt, &signature) || signature != IMAGE_NT_SIGNATURE || !Read(nt + sizeof signature, &h_.file))
            return;
        const size_t optional = nt + sizeof signature + sizeof(IMAGE_FILE_HEADER);
        if (!Read(optional, &h_.magic))
            return;
        if (h_.magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
            valid_ = Fill<IMAGE_NT_HEADERS32>(nt);
        else if (h_.magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
            valid_ = Fill<IMAGE_NT_HEADERS64>(nt);
        const size_t table = optional + h_.file.SizeOfOptionalHeader;
        for (WORD i = 0; valid_ && i < h_.file.NumberOfSections; ++i) {
            IMAGE_SECTION_HEADER section{};
            valid_ = Read(table + i * sizeof section, &section);
            sections_.push_back(section);
        }
    }

    bool Valid() const { return valid_; }

    // The SafeSEH handler count of a PE32 load configuration (0 when none).
    DWORD SafeSehHandlers() const
    {
        IMAGE_LOAD_CONFIG_DIRECTORY32 config{};
        const IMAGE_DATA_DIRECTORY& dir = h_.directories[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG];
        const size_t at = ToOffset(dir.VirtualAddress);
        if (!at || h_.magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC || !Read(at, &config))
            return 0;
        return dir.Size >= offsetof(IMAGE_LOAD_CONFIG_DIRECTORY32, SEHandlerCount) + sizeof(DWORD)
                   ? config.SEHandlerCount
                   : 0;
    }
    const Headers& H() const { return h_; }
    const std::vector<IMAGE_SECTION_HEADER>& Sections() const { return sections_; }

    // Every import as DLL!name (DLL upper-cased; #N for one by ordinal).
    std::set<std::string> Imports() const
    {
        std::set<std::string> imports;
        size_t at = ToOffset(h_.directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
        IMAGE_IMPORT_DESCRIPTOR import{};
        for (; at && Read(at, &import) && import.Name; at += sizeof import) {
            std::string dll = Text(ToOffset(import.Name));
            std::transform(dll.begin(), dll.end(), dll.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
            const DWORD thunks = import.OriginalFirstThunk ? import.OriginalFirstThunk : import.FirstThunk;
            const bool x64 = h_.magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
            const size_t width = x64 ? 8 : 4;
            for (size_t t = ToOffset(thunks); t; t += width) {
                ULONGLONG thunk = 0;
                if (!(x64 ? Read(t, &thunk) : Read(t, reinterpret_cast<DWORD*>(&thunk))) || !thunk)
                    break;
                const bool byOrdinal = x64 ? (thunk & IMAGE_ORDINAL_FLAG64) != 0 : (thunk & IMAGE_ORDINAL_FLAG32) != 0;
                imports.insert(dll + "!" + (byOrdinal ? "#" + std::to_string(thunk & 0xFFFF)
                                                      : Text(ToOffset(static_cast<DWORD>(thunk)) + 2)));
            }
        }
        return imports;
    }

private:
    std::string Text(size_t at) const
    {
        std::string text;
        for (; at && at < bytes_.size() && bytes_[at]; ++at)
            text += static_cast<char>(bytes_[at]);
        return text;
    }

    template <typename T>
    bool Read(size_t at, T* out) const
    {
        if (at > bytes_.size() || bytes_.size() - at < sizeof(T))
            return false;
        std::memcpy(out, bytes_.data() + at, sizeof(T));
        return true;
    }

    template <typename Nt>
    bool Fill(size_t at)
    {
        Nt nt{};
        if (!Read(at, &nt))
            return false;
        const auto& o = nt.OptionalHeader;
        h_.subsystem = o.Subsystem;
        h_.dllCharacteristics = o.DllCharacteristics;
        h_.osMajor = o.MajorOperatingSystemVersion;
        h_.osMinor = o.MinorOperatingSystemVersion;
        h_.subsystemMajor = o.MajorSubsystemVersion;
        h_.subsystemMinor = o.MinorSubsystemVersion;
        std::copy(std::begin(o.DataDirectory), std::end(o.DataDirectory), std::begin(h_.directories));
        return true;
    }

    size_t ToOffset(DWORD rva) const
    {
        for (const IMAGE_SECTION_HEADER& s : sections_)
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.Misc.VirtualSize)
                return s.PointerToRawData + (rva - s.VirtualAddress);
        return 0;
    }

    std::vector<unsigned char> bytes_;
    Headers h_;
    std::vector<IMAGE_SECTION_HEADER> sections_;
    bool valid_ = false;
};

// What the builds import today, each function checked in the platform's
// documentation to be there on the Windows the image names: XP for i686, XP
// x64 and Server 2003 for x86_64 (msvcrt.dll's exports as those versions ship
// it). A new import fails until it has been looked up and added here.
const char* const KnownImports[][2] = {
    {"GDI32.DLL", "CreateSolidBrush DeleteObject GetStockObject Pie SelectObject"},
    {"USER32.DLL", "BeginPaint CreateWindowExW DefWindowProcW DispatchMessageW EndPaint GetMessageW LoadCursorW "
                   "LoadIconW MessageBoxW PostQuitMessage RegisterClassW ShowWindow TranslateMessage UpdateWindow"},
    {"KERNEL32.DLL", "DeleteCriticalSection EnterCriticalSection GetLastError GetStartupInfoA "
                     "InitializeCriticalSection LeaveCriticalSection SetUnhandledExceptionFilter Sleep TlsGetValue "
                     "VirtualProtect VirtualQuery"},
    {"MSVCRT.DLL", "__getmainargs __initenv __set_app_type __setusermatherr _amsg_exit _cexit _initterm "
                   "_ismbblead _onexit abort calloc exit fprintf free fwrite malloc memcpy signal strlen strncmp "
                   "vfprintf"},
};
const char* const KnownImportsI686[][2] = {
    {"KERNEL32.DLL", "FreeLibrary GetModuleHandleA GetProcAddress LoadLibraryA"},
    {"MSVCRT.DLL", "__p__acmdln __p__commode __p__fmode _iob"},
};
const char* const KnownImportsX64[][2] = {
    {"KERNEL32.DLL", "__C_specific_handler"},
    {"MSVCRT.DLL", "__iob_func _acmdln _commode _fmode"},
};

void CheckImportsExist(const std::set<std::string>& imports, bool x64)
{
    std::set<std::string> known;
    const auto add = [&](const auto& table) {
        for (const auto& [dll, names] : table) {
            std::istringstream words(names);
            for (std::string name; words >> name;)
                known.insert(std::string(dll) + "!" + name);
        }
    };
    add(KnownImports);
    if (x64)
        add(KnownImportsX64);
    else
        add(KnownImportsI686);
    std::string unknown;
    for (const std::string& import : imports)
        if (!known.count(import))
            unknown += import + " ";
    Note(std::to_string(imports.size()) + " functions imported");
    CHECK(unknown.empty(), "imports not known to exist on Windows 5." + std::to_string(x64 ? 2 : 1) + ": " + unknown);
}

void CheckHeaders(const PeImage& pe, bool x64)
{
    const Headers& h = pe.H();
    CHECK(h.file.Machine == (x64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386), "machine " + Hex(h.file.Machine));
    CHECK(h.magic == (x64 ? IMAGE_NT_OPTIONAL_HDR64_MAGIC : IMAGE_NT_OPTIONAL_HDR32_MAGIC), "optional header " + Hex(h.magic));
    CHECK(h.subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI, "subsystem " + std::to_string(h.subsystem) + ", want Windows GUI");
    const unsigned minor = x64 ? 2 : 1;
    const std::string version = std::to_string(h.osMajor) + "." + std::to_string(h.osMinor) + " / " +
                                std::to_string(h.subsystemMajor) + "." + std::to_string(h.subsystemMinor);
    Note("OS / subsystem version " + version + ", DllCharacteristics " + Hex(h.dllCharacteristics));
    CHECK(h.osMajor == 5 && h.osMinor == minor, "OS version " + version);
    CHECK(h.subsystemMajor == 5 && h.subsystemMinor == minor, "subsystem version " + version);
    CHECK(h.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE, "not terminal-server aware");

    const std::set<std::string> imports = pe.Imports();
    std::set<std::string> dlls;
    for (const std::string& import : imports)
        dlls.insert(import.substr(0, import.find('!')));
    std::string list;
    for (const std::string& dll : dlls)
        list += dll + " ";
    Note("imports from " + list);
    const std::set<std::string> systemOnly = {"GDI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL"};
    CHECK(dlls == systemOnly, "imports from " + list);
    CheckImportsExist(imports, x64);
}

// The rules a Windows binary scanner applies, one line each: holds, not
// applicable, or cannot be met with this toolchain (and why).
void CheckScannerRules(const PeImage& pe, bool x64)
{
    const Headers& h = pe.H();
    const auto rule = [](const std::string& name, bool holds, const std::string& detail) {
        Note("rule " + name + ": " + (holds ? "holds" : "FAILS") + (detail.empty() ? "" : " (" + detail + ")"));
        CHECK(holds, "scanner rule " + name + " fails");
    };
    const auto state = [](const std::string& name, const std::string& verdict) { Note("rule " + name + ": " + verdict); };

    std::string writableCode, sharedWritable;
    for (const IMAGE_SECTION_HEADER& s : pe.Sections()) {
        const std::string name(reinterpret_cast<const char*>(s.Name), strnlen(reinterpret_cast<const char*>(s.Name), 8));
        const bool writable = (s.Characteristics & IMAGE_SCN_MEM_WRITE) != 0;
        if (writable && (s.Characteristics & IMAGE_SCN_MEM_EXECUTE))
            writableCode += name + " ";
        if (writable && (s.Characteristics & IMAGE_SCN_MEM_SHARED))
            sharedWritable += name + " ";
    }
    rule("no section both writable and executable", writableCode.empty(), writableCode);
    rule("no shared writable section", sharedWritable.empty(), sharedWritable);
    rule("ASLR: DYNAMIC_BASE with a relocation directory",
         (h.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) &&
             !(h.file.Characteristics & IMAGE_FILE_RELOCS_STRIPPED) &&
             h.directories[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size > 0,
         "relocations " + std::to_string(h.directories[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size) + " bytes");
    rule("DEP: NX_COMPAT", (h.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT) != 0, "");
    if (x64) {
        rule("high-entropy ASLR", (h.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA) != 0, "");
        state("SafeSEH or NO_SEH", "not applicable (x64 exception handling is table-based)");
    } else {
        state("high-entropy ASLR", "not applicable (32-bit address space)");
        CHECK(!(h.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA), "high-entropy VA on a 32-bit image");
        const bool noSeh = (h.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_NO_SEH) != 0;
        rule("SafeSEH or NO_SEH", noSeh || pe.SafeSehHandlers() > 0,
             noSeh ? "NO_SEH: the image registers no structured exception handler" : "SafeSEH table");
    }
    state("Control Flow Guard",
          "cannot be met with this toolchain (GCC and GNU ld emit no guard tables: GCC 12 and ld 2.40 on Debian 12, "
          "GCC 14 and ld 2.44 on Debian 13)");
    CHECK(!(h.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_GUARD_CF), "GUARD_CF claimed without guard tables");
    state("CET shadow-stack compatible",
          "cannot be met with this toolchain (GNU ld, 2.40 and 2.44 alike, cannot write the extended DLL "
          "characteristics)");
    state("stack protection", "not used: -fstack-protector-strong links libssp, whose guard set-up imports "
                              "ADVAPI32, a DLL beyond the runtime's");
}

// The version information, read back as Explorer's Details page reads it.
void CheckVersionInfo(const std::wstring& exe, const std::wstring& version)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    if (!CHECK(size > 0, "no version information, error " + std::to_string(GetLastError())))
        return;
    std::vector<unsigned char> data(size);
    if (!CHECK(GetFileVersionInfoW(exe.c_str(), 0, size, data.data()) != 0, "version information unreadable"))
        return;

    struct Translation {
        WORD language, codePage;
    };
    Translation* translations = nullptr;
    UINT length = 0;
    VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &length);
    CHECK(length == sizeof(Translation) && translations->language == 0x0409 && translations->codePage == 1200,
          "want one translation, 0x0409 with code page 1200 (" + std::to_string(length / sizeof(Translation)) + " found)");

    VS_FIXEDFILEINFO* fixed = nullptr;
    VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length);
    if (CHECK(fixed && fixed->dwSignature == VS_FFI_SIGNATURE, "no fixed file information")) {
        const std::wstring numbers = std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                                     std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                                     std::to_wstring(HIWORD(fixed->dwFileVersionLS));
        CHECK(numbers == version && LOWORD(fixed->dwFileVersionLS) == 0 &&
                  fixed->dwProductVersionMS == fixed->dwFileVersionMS &&
                  fixed->dwProductVersionLS == fixed->dwFileVersionLS,
              "fixed file version " + Narrow(numbers) + ", want " + Narrow(version) + ".0 for file and product");
        CHECK(fixed->dwFileType == VFT_APP, "file type " + std::to_string(fixed->dwFileType) + ", want an application");
    }

    const std::pair<const wchar_t*, std::wstring> fields[] = {
        {L"FileVersion", version},          {L"ProductVersion", version},
        {L"ProductName", L"Ambrelix"},      {L"InternalName", L"ambrelix"},
        {L"OriginalFilename", L"ambrelix.exe"}, {L"FileDescription", L""},
        {L"LegalCopyright", L""},
    };
    for (const auto& [name, want] : fields) {
        wchar_t* value = nullptr;
        length = 0;
        VerQueryValueW(data.data(), (std::wstring(L"\\StringFileInfo\\040904B0\\") + name).c_str(),
                       reinterpret_cast<void**>(&value), &length);
        const std::wstring text = value && length ? std::wstring(value) : std::wstring();
        Note("version " + Narrow(name) + ": \"" + Narrow(text) + "\"");
        CHECK(want.empty() ? !text.empty() : text == want,
              Narrow(name) + " is \"" + Narrow(text) + "\"" + (want.empty() ? "" : ", want \"" + Narrow(want) + "\""));
    }
}

BOOL CALLBACK CountResource(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count)
{
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

void CheckManifest(HMODULE image, const std::wstring& manifestPath)
{
    const std::vector<unsigned char> expected = ReadWholeFile(manifestPath);
    CHECK(expected.size() == 346, "manifest file is " + std::to_string(expected.size()) + " bytes");
    HRSRC found = FindResourceExW(image, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), 1033);
    if (CHECK(found != nullptr, "no manifest resource (24, 1, 1033)")) {
        const DWORD size = SizeofResource(image, found);
        const auto* data = static_cast<const unsigned char*>(LockResource(LoadResource(image, found)));
        Note("manifest resource " + std::to_string(size) + " bytes");
        CHECK(size == 346, "manifest resource is " + std::to_string(size) + " bytes");
        const std::vector<unsigned char> embedded(data, data + size);
        CHECK(embedded == expected, "embedded manifest differs from the source file");
        const std::string text(embedded.begin(), embedded.end());
        CHECK(text.rfind("<assembly", 0) == 0, "manifest starts with an XML declaration or anything but <assembly");
        CHECK(text.find("level=\"asInvoker\"") != std::string::npos, "no asInvoker");
        CHECK(text.find("uiAccess=\"false\"") != std::string::npos, "no uiAccess false");
        CHECK(std::count(text.begin(), text.end(), '\n') == 8 &&
                  std::count(text.begin(), text.end(), '\r') == 8 && text.back() == '>',
              "line ends: want CR LF between the 9 lines and none after the last");
    }
    // The manifest is the only resource of its type.
    int manifests = 0;
    EnumResourceNamesW(image, MAKEINTRESOURCEW(24), CountResource, reinterpret_cast<LONG_PTR>(&manifests));
    CHECK(manifests == 1, std::to_string(manifests) + " manifest resources");
}

}  // namespace

// artifact PROGRAM ARCH MANIFEST VERSION: ARCH is i686 or x86_64; MANIFEST is
// the file the build embeds; VERSION the project's, as MAJOR.MINOR.PATCH.
void ArtifactCase(const Args& args)
{
    if (!CHECK(args.extra.size() == 3, "usage: artifact PROGRAM ARCH MANIFEST VERSION"))
        return;
    const PeImage pe(ReadWholeFile(args.program));
    if (!CHECK(pe.Valid(), "not a PE image: " + Narrow(args.program)))
        return;
    const bool x64 = args.extra[0] == L"x86_64";
    CheckHeaders(pe, x64);
    CheckScannerRules(pe, x64);
    CheckVersionInfo(args.program, args.extra[2]);

    HMODULE image =
        LoadLibraryExW(args.program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!CHECK(image != nullptr, "loader refused the image, error " + std::to_string(GetLastError())))
        return;
    CheckManifest(image, args.extra[1]);
    FreeLibrary(image);
}

}  // namespace e2e
