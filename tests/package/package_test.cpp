// What the shipped keyhaven.exe (as installed in the workstation) declares
// about itself: PE32+ GUI program, version 1.0.2.1, asInvoker manifest with
// no OS compatibility section, and only system DLLs imported.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace {

const char agent_path[] = "C:\\Program Files\\Keyhaven\\keyhaven.exe";

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

class Package : public ::testing::Test {
protected:
    void SetUp() override
    {
        image = LoadLibraryExA(agent_path, nullptr, DONT_RESOLVE_DLL_REFERENCES);
        ASSERT_NE(nullptr, image) << "keyhaven.exe not installed in the workstation";
        base = reinterpret_cast<const unsigned char*>(image);
        auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    }
    void TearDown() override
    {
        if (image)
            FreeLibrary(image);
    }

    HMODULE image = nullptr;
    const unsigned char* base = nullptr;
    const IMAGE_NT_HEADERS64* nt = nullptr;
};

TEST_F(Package, IsAnX64GuiProgram)
{
    EXPECT_EQ(IMAGE_NT_SIGNATURE, nt->Signature);
    EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, nt->FileHeader.Machine);
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR64_MAGIC, nt->OptionalHeader.Magic);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt->OptionalHeader.Subsystem);
}

TEST_F(Package, ImportsOnlySystemLibraries)
{
    const std::set<std::string> system = {"kernel32.dll", "advapi32.dll", "crypt32.dll",  "winscard.dll",
                                          "setupapi.dll", "cfgmgr32.dll", "version.dll",  "shell32.dll",
                                          "user32.dll",   "msvcrt.dll",   "ole32.dll"};
    const auto& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(0u, directory.VirtualAddress);
    std::vector<std::string> imported;
    for (auto entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); entry->Name;
         ++entry)
        imported.push_back(lower(reinterpret_cast<const char*>(base + entry->Name)));
    for (const auto& name : imported)
        EXPECT_TRUE(system.count(name) || name.rfind("api-ms-win-", 0) == 0) << name << " is not a system DLL";
    EXPECT_NE(imported.end(), std::find(imported.begin(), imported.end(), "kernel32.dll"));
    EXPECT_NE(imported.end(), std::find(imported.begin(), imported.end(), "winscard.dll"));
    EXPECT_NE(imported.end(), std::find(imported.begin(), imported.end(), "setupapi.dll"));  // CM_Get_Device_IDA too
}

TEST_F(Package, VersionResourceReads1021AsFileAndProductVersion)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(agent_path, &handle);
    ASSERT_NE(0u, size);
    std::vector<unsigned char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(agent_path, 0, size, block.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length));
    EXPECT_EQ(MAKELONG(0, 1), info->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(1, 2), info->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(0, 1), info->dwProductVersionMS);
    EXPECT_EQ(MAKELONG(1, 2), info->dwProductVersionLS);
}

TEST_F(Package, ManifestAsksForAsInvokerAndDeclaresNoCompatibility)
{
    HMODULE data = LoadLibraryExA(agent_path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, data);
    HRSRC found = FindResourceA(data, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(nullptr, found);
    HGLOBAL loaded = LoadResource(data, found);
    std::string manifest(static_cast<const char*>(LockResource(loaded)), SizeofResource(data, found));
    FreeLibrary(data);

    EXPECT_NE(std::string::npos, manifest.find("requestedExecutionLevel level=\"asInvoker\""));
    EXPECT_EQ(std::string::npos, manifest.find("compatibility"));
    EXPECT_EQ(std::string::npos, manifest.find("supportedOS"));
}

}  // namespace
