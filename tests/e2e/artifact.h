// The shipped executable read back as a file and through the loader.
#pragma once

#include <string>

namespace e2e {

// arch is "i686" or "x86_64"; manifestPath is the manifest the build embeds.
void CheckArtifact(const std::wstring& exe, const std::string& arch, const std::wstring& manifestPath);

}  // namespace e2e
