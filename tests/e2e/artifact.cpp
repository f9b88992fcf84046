#include "tests/e2e/artifact.h"

#include "tests/e2e/support.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

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

// A minimal reader of the PE headers, independent of the loader.
class PeFile {
public:
    explicit PeFile(std::vector<unsigned char> bytes) : bytes_(std::move(bytes))
    {
        if (bytes_.size() < 0x40 || U16(0) != 0x5A4D)
            return;
        nt_ = U32(0x3C);
        if (nt_ + 24 > bytes_.size() || U32(nt_) != 0x00004550)
            return;
        optional_ = nt_ + 24;
        magic_ = U16(optional_);
        valid_ = magic_ == 0x10B || magic_ == 0x20B;
    }

    bool Valid() const { return valid_; }
    unsigned Machine() const { return U16(nt_ + 4); }
    bool Pe32Plus() const { return magic_ == 0x20B; }
    unsigned Subsystem() const { return U16(optional_ + 68); }
    unsigned DllCharacteristics() const { return U16(optional_ + 70); }
    unsigned OsMajor() const { return U16(optional_ + 40); }
    unsigned OsMinor() const { return U16(optional_ + 42); }
    unsigned SubsystemMajor() const { return U16(optional_ + 48); }
    unsigned SubsystemMinor() const { return U16(optional_ + 50); }
    unsigned FileCharacteristics() const { return U16(nt_ + 22); }

    // Data directory entry i: relative address and size.
    std::pair<uint32_t, uint32_t> Directory(int i) const
    {
        const size_t at = optional_ + (Pe32Plus() ? 112 : 96) + 8 * static_cast<size_t>(i);
        return {U32(at), U32(at + 4)};
    }

    std::set<std::string> ImportedDlls() const
    {
        std::set<std::string> dlls;
        size_t at = ToOffset(Directory(1).first);
        for (; at && at + 20 <= bytes_.size(); at += 20) {
            const uint32_t name = U32(at + 12);
            if (!name)
                break;
            std::string dll;
            for (size_t p = ToOffset(name); p && p < bytes_.size() && bytes_[p]; ++p)
                dll += static_cast<char>(std::toupper(bytes_[p]));
            dlls.insert(dll);
        }
        return dlls;
    }

private:
    unsigned U16(size_t at) const { return at + 2 <= bytes_.size() ? bytes_[at] | (bytes_[at + 1] << 8) : 0; }
    uint32_t U32(size_t at) const { return at + 4 <= bytes_.size() ? U16(at) | (U16(at + 2) << 16) : 0; }

    size_t ToOffset(uint32_t rva) const
    {
        const unsigned sections = U16(nt_ + 6);
        const size_t table = optional_ + U16(nt_ + 20);
        for (unsigned i = 0; i < sections; ++i) {
            const size_t s = table + 40 * static_cast<size_t>(i);
            const uint32_t va = U32(s + 12), size = U32(s + 16), raw = U32(s + 20);
            if (rva >= va && rva < va + size)
                return raw + (rva - va);
        }
        return 0;
    }

    std::vector<unsigned char> bytes_;
    size_t nt_ = 0, optional_ = 0;
    unsigned magic_ = 0;
    bool valid_ = false;
};

constexpr unsigned DynamicBase = 0x0040, HighEntropyVa = 0x0020, NxCompat = 0x0100, TerminalServerAware = 0x8000;

void CheckHeaders(const PeFile& pe, const std::string& arch)
{
    const bool x64 = arch == "x86_64";
    CHECK(pe.Machine() == (x64 ? 0x8664u : 0x14Cu), "machine " + Hex(pe.Machine()) + " for " + arch);
    CHECK(pe.Pe32Plus() == x64, "optional header kind");
    CHECK(pe.Subsystem() == 2, "subsystem " + std::to_string(pe.Subsystem()) + ", want 2 (Windows GUI)");
    const unsigned minor = x64 ? 2 : 1;
    const std::string version = std::to_string(pe.OsMajor()) + "." + std::to_string(pe.OsMinor()) + " / " +
                                std::to_string(pe.SubsystemMajor()) + "." + std::to_string(pe.SubsystemMinor());
    Note("OS / subsystem version " + version + ", DllCharacteristics " + Hex(pe.DllCharacteristics()));
    CHECK(pe.OsMajor() == 5 && pe.OsMinor() == minor, "OS version " + version);
    CHECK(pe.SubsystemMajor() == 5 && pe.SubsystemMinor() == minor, "subsystem version " + version);
    const unsigned want = DynamicBase | NxCompat | TerminalServerAware | (x64 ? HighEntropyVa : 0);
    CHECK((pe.DllCharacteristics() & (want | HighEntropyVa)) == want,
          "DllCharacteristics " + Hex(pe.DllCharacteristics()) + ", want " + Hex(want));
    CHECK((pe.FileCharacteristics() & 0x0001) == 0, "relocations stripped");
    CHECK(pe.Directory(5).second > 0, "no base relocation directory");

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

void CheckManifest(const std::wstring& exe, const std::wstring& manifestPath)
{
    const std::vector<unsigned char> expected = ReadWholeFile(manifestPath);
    CHECK(expected.size() == 346, "manifest file is " + std::to_string(expected.size()) + " bytes");

    HMODULE image = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!CHECK(image != nullptr, "loader refused the image, error " + std::to_string(GetLastError())))
        return;
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
    FreeLibrary(image);
}

}  // namespace

void CheckArtifact(const std::wstring& exe, const std::string& arch, const std::wstring& manifestPath)
{
    const PeFile pe(ReadWholeFile(exe));
    if (!CHECK(pe.Valid(), "not a PE image: " + Narrow(exe)))
        return;
    CheckHeaders(pe, arch);
    CheckManifest(exe, manifestPath);
}

}  // namespace e2e
