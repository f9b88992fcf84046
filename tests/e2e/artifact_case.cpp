// The shipped executable as a file: its PE headers, read with <winnt.h>'s own
// structures and independent of the loader, and its manifest read back
// through the loader.
#include "tests/e2e/cases.h"
#include "tests/e2e/support.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace e2e {

namespace {

std::vector<unsigned char> ReadWholeFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::vector<unsigned char> bytes;
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
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
    const Headers& H() const { return h_; }
    const std::vector<IMAGE_SECTION_HEADER>& Sections() const { return sections_; }

    std::set<std::string> ImportedDlls() const
    {
        std::set<std::string> dlls;
        size_t at = ToOffset(h_.directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
        IMAGE_IMPORT_DESCRIPTOR import{};
        for (; at && Read(at, &import) && import.Name; at += sizeof import) {
            std::string dll;
            for (size_t p = ToOffset(import.Name); p && p < bytes_.size() && bytes_[p]; ++p)
                dll += static_cast<char>(std::toupper(bytes_[p]));
            dlls.insert(dll);
        }
        return dlls;
    }

private:
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
    const unsigned want = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_NX_COMPAT |
                          IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE |
                          (x64 ? IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA : 0);
    CHECK((h.dllCharacteristics & (want | IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA)) == want,
          "DllCharacteristics " + Hex(h.dllCharacteristics) + ", want " + Hex(want));
    CHECK((h.file.Characteristics & IMAGE_FILE_RELOCS_STRIPPED) == 0, "relocations stripped");
    CHECK(h.directories[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size > 0, "no base relocation directory");

    const std::set<std::string> dlls = pe.ImportedDlls();
    std::string list;
    for (const std::string& dll : dlls)
        list += dll + " ";
    Note("imports " + list);
    const std::set<std::string> systemOnly = {"GDI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL"};
    CHECK(dlls == systemOnly, "imports " + list);
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

// artifact PROGRAM ARCH MANIFEST: ARCH is i686 or x86_64; MANIFEST is the
// file the build embeds.
void ArtifactCase(const Args& args)
{
    if (!CHECK(args.extra.size() == 2, "usage: artifact PROGRAM ARCH MANIFEST"))
        return;
    const PeImage pe(ReadWholeFile(args.program));
    if (!CHECK(pe.Valid(), "not a PE image: " + Narrow(args.program)))
        return;
    CheckHeaders(pe, args.extra[0] == L"x86_64");

    HMODULE image =
        LoadLibraryExW(args.program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!CHECK(image != nullptr, "loader refused the image, error " + std::to_string(GetLastError())))
        return;
    CheckManifest(image, args.extra[1]);
    FreeLibrary(image);
}

}  // namespace e2e
