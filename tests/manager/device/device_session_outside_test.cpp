// The device session checked by tools outside the project, on players served by playersim.exe: a
// VBScript client under Wine's cscript reads the same player through the type library (identity,
// storage count, sizes, flags and the roots' listings must equal the session's DeviceInfo and file
// items), and mtools reads the card image playersim exports at its end (the card's total and free bytes
// must equal what minfo and mdir report), on MMC/SD cards of 64 and 2048 MB.
#include "tests/manager/device/session_rig.h"
#include "tests/support/pc_file_bytes.h"
#include "tests/support/served_player.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using session_rig::PollOnWorker;
using session_rig::ReadText;
using session_rig::RecordingSession;
using session_rig::Text;
using session_rig::WindowsPath;
using test_support::RunShell;
using test_support::ShellQuote;
using test_support::TempFolder;

[[maybe_unused]] ::testing::Environment* const kRegistration =
    ::testing::AddGlobalTestEnvironment(new session_rig::Registration);
[[maybe_unused]] const test_support::PrivateTemp kPrivateTemp;

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, '|'))
        fields.push_back(field);
    if (!line.empty() && line.back() == '|')
        fields.push_back("");
    return fields;
}

// What the script read: one line per entry, as it printed it.
struct ScriptView {
    std::vector<std::string> identity;
    long storages = -1;
    std::map<int, std::vector<std::string>> storage;   // index -> fields
    std::map<int, std::vector<std::string>> entries;   // index -> "kind|name|path|size|sub" lines
    bool done = false;
    std::vector<std::string> failures;
};

ScriptView ParseScript(const std::string& output)
{
    ScriptView view;
    std::stringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::vector<std::string> f = Split(line);
        if (f.empty())
            continue;
        if (line.rfind("FAIL", 0) == 0)
            view.failures.push_back(line);
        else if (f[0] == "identity")
            view.identity = f;
        else if (f[0] == "storages" && f.size() == 2)
            view.storages = std::stol(f[1]);
        else if (f[0] == "storage" && f.size() == 7)
            view.storage[std::stoi(f[1])] = f;
        else if (f[0] == "entry" && f.size() == 7)
            view.entries[std::stoi(f[1])].push_back(f[2] + "|" + f[3] + "|" + f[4] + "|" + f[5] + "|" + f[6]);
        else if (f[0] == "done")
            view.done = true;
    }
    return view;
}

// The session's listing in the script's form. Sizes as the interface's long carries them.
std::vector<std::string> SessionEntries(const std::vector<CFileItem>& items)
{
    std::vector<std::string> lines;
    for (const CFileItem& item : items)
        lines.push_back(std::string(item.kind == kFileItemFolder ? "folder" : "file") + "|" + Narrow(Text(item.name)) +
                        "|" + Narrow(Text(item.path)) + "|" +
                        std::to_string(static_cast<std::int32_t>(item.information.size)) + "|" +
                        std::to_string(item.hasSubfolders));
    return lines;
}

// The byte offset of the FAT volume in a card image: partition 1 of a master boot record, else 0.
std::uint64_t VolumeOffset(const test_support::Bytes& image)
{
    if (image.size() < 512 || image[510] != 0x55 || image[511] != 0xAA)
        return 0;
    // A boot sector starts with a jump; a master boot record's partition 1 names its first sector.
    if (image[0] == 0xEB || image[0] == 0xE9)
        return 0;
    const std::uint8_t* entry = image.data() + 446;
    const std::uint32_t lba = entry[8] | entry[9] << 8 | entry[10] << 16 | static_cast<std::uint32_t>(entry[11]) << 24;
    return entry[4] ? static_cast<std::uint64_t>(lba) * 512 : 0;
}

std::uint64_t Field(const std::string& text, const char* pattern)
{
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(pattern)))
        return 0;
    return std::stoull(m[1].str());
}

// The data area of the volume in bytes and the free bytes, as minfo and mdir give them.
struct MtoolsFigures {
    std::uint64_t total = 0;
    std::uint64_t free = 0;
    std::string report;
};
MtoolsFigures ReadWithMtools(const std::string& image, std::uint64_t offset)
{
    MtoolsFigures figures;
    const std::string drive = ShellQuote(image + "@@" + std::to_string(offset));
    const test_support::ShellResult r = RunShell("export LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1; minfo -i " + drive +
                                                 " :: && echo '--- mdir' && mdir -i " + drive + " ::/");
    figures.report = r.out + r.err;
    if (!r.finished || r.exitCode != 0)
        return figures;
    const std::string& t = r.out;
    const std::uint64_t sectorSize = Field(t, "sector size: (\\d+) bytes");
    const std::uint64_t perCluster = Field(t, "cluster size: (\\d+) sectors");
    const std::uint64_t reserved = Field(t, "reserved \\(boot\\) sectors: (\\d+)");
    const std::uint64_t fats = Field(t, "fats: (\\d+)");
    const std::uint64_t rootSlots = Field(t, "max available root directory slots: (\\d+)");
    const std::uint64_t small = Field(t, "small size: (\\d+) sectors");
    const std::uint64_t big = Field(t, "big size: (\\d+) sectors");
    std::uint64_t perFat = Field(t, "sectors per fat: (\\d+)");
    if (perFat == 0)
        perFat = Field(t, "[Bb]ig ?fat(?:len)?[ =:]+(\\d+)");
    const std::uint64_t sectors = small ? small : big;
    if (!sectorSize || !perCluster || !perFat || !sectors)
        return figures;
    const std::uint64_t rootSectors = (rootSlots * 32 + sectorSize - 1) / sectorSize;
    const std::uint64_t dataStart = reserved + fats * perFat + rootSectors;
    if (sectors <= dataStart)
        return figures;
    figures.total = (sectors - dataStart) / perCluster * perCluster * sectorSize;
    std::smatch m;
    if (std::regex_search(t, m, std::regex("([\\d ]+) bytes free"))) {
        std::string digits;
        for (char c : m[1].str())
            if (c != ' ')
                digits += c;
        figures.free = digits.empty() ? 0 : std::stoull(digits);
    }
    return figures;
}

struct CardCase {
    const char* name;
    const wchar_t* card;
};

class DeviceSessionOutsideTest : public ::testing::TestWithParam<CardCase> {};

TEST_P(DeviceSessionOutsideTest, TheScriptAndMtoolsReadWhatTheSessionHolds)
{
    ASSERT_TRUE(test_support::RunningUnderWine());
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    TempFolder temp;
    const std::filesystem::path image = temp.File("card.img");
    test_support::ServedPlayer sim(WindowsPath(KWEP_PLAYERSIM_PATH));
    const std::string pipe = "kwep-session-outside-" + std::to_string(GetCurrentProcessId());
    const std::string path =
        sim.Start(L"--create \"" + temp.File("player").wstring() + L"\" --model 10 --card " + GetParam().card +
                  L" --pipe " + std::wstring(pipe.begin(), pipe.end()) + L" --export-card \"" + image.wstring() + L"\"");
    ASSERT_FALSE(path.empty()) << "playersim did not start";
    ASSERT_TRUE(SetEnvironmentVariableA("KWEP_SIMULATED_PLAYER", path.c_str()));

    DeviceInfo info;
    std::vector<CFileItem> roots[2];
    {
        RecordingSession session;
        ASSERT_EQ(S_OK, session.Open());
        ASSERT_EQ(1, PollOnWorker(session));
        // Something in each root besides what a new player holds: a folder with a folder, and files.
        for (int s : {kStorageInternal, kStorageCard}) {
            CComPtr<IZAVTStorage> storage = session.Storage(s);
            ASSERT_TRUE(storage) << s;
            CComPtr<IZAVTFolder> root;
            ASSERT_EQ(S_OK, storage->get_RootFolder(&root));
            const std::wstring file = temp.File(s ? L"CARDFILE.BIN" : L"MEMFILE.BIN").wstring();
            test_support::WriteFile(file, test_support::Bytes(s ? 70000 : 1234, 0x5A));
            ASSERT_EQ(S_OK, root->Download(CComBSTR(file.c_str())));
            ASSERT_EQ(S_OK, root->CreateSubfolder(CComBSTR(L"ALBUMS")));
            CComPtr<IZAVTFolderCollection> folders;
            long count = 0;
            ASSERT_EQ(S_OK, root->get_SubFolders(&folders));
            ASSERT_EQ(S_OK, folders->get_Count(&count));
            for (long n = 1; n <= count; ++n) {
                CComPtr<IZAVTFolder> folder;
                CComBSTR name;
                ASSERT_EQ(S_OK, folders->get_Item(n, &folder));
                ASSERT_EQ(S_OK, folder->get_Name(&name));
                if (Text(name) == L"ALBUMS") {
                    ASSERT_EQ(S_OK, folder->CreateSubfolder(CComBSTR(L"2004")));
                }
            }
        }
        ASSERT_EQ(1, PollOnWorker(session));
        for (int s : {kStorageInternal, kStorageCard}) {
            ASSERT_EQ(S_OK, session.GoToRootFolder(s));
            ASSERT_EQ(S_OK, session.GetFolderItems(s, &roots[s]));
        }
        ASSERT_EQ(S_OK, session.GetDeviceInfo(&info));

        // The script reads the same player while the session still holds it.
        const std::filesystem::path out = temp.File("script.txt");
        const long code = session_rig::RunProgram(
            L"cscript.exe //nologo \"" + WindowsPath(KWEP_SESSION_CLIENT_SCRIPT) + L"\"", out);
        ASSERT_EQ(0, code) << ReadText(out);
        const ScriptView view = ParseScript(ReadText(out));
        ASSERT_TRUE(view.done) << ReadText(out);
        EXPECT_TRUE(view.failures.empty()) << ReadText(out);

        ASSERT_EQ(5u, view.identity.size()) << ReadText(out);
        EXPECT_EQ(Narrow(Text(info.name)), view.identity[1]);
        EXPECT_EQ(std::to_string(info.model), view.identity[2]);
        EXPECT_EQ(Narrow(Text(info.firmwareVersion)), view.identity[3]);
        EXPECT_EQ(Narrow(Text(info.firmwareDate)), view.identity[4]);
        EXPECT_EQ(info.storageCount, view.storages);
        ASSERT_EQ(2, info.storageCount);
        const struct {
            int index;
            std::uint32_t total, free;
            std::int32_t readOnly, unformatted;
        } expected[] = {{1, info.internalTotal, info.internalFree, 0, info.internalUnformatted},
                        {2, info.cardTotal, info.cardFree, info.cardReadOnly, info.cardUnformatted}};
        for (const auto& e : expected) {
            SCOPED_TRACE("storage " + std::to_string(e.index));
            ASSERT_EQ(1u, view.storage.count(e.index));
            const std::vector<std::string>& f = view.storage.at(e.index);
            EXPECT_EQ(std::to_string(e.index - 1), f[2]);
            EXPECT_EQ(std::to_string(static_cast<std::int32_t>(e.total)), f[3]);
            EXPECT_EQ(std::to_string(static_cast<std::int32_t>(e.free)), f[4]);
            if (e.index == 2) {
                EXPECT_EQ(std::to_string(e.readOnly), f[5]);
            }
            EXPECT_EQ(std::to_string(e.unformatted), f[6]);
            const auto listed = view.entries.find(e.index);
            ASSERT_NE(view.entries.end(), listed);
            EXPECT_EQ(SessionEntries(roots[e.index - 1]), listed->second);
            EXPECT_NE(listed->second.end(),
                      std::find(listed->second.begin(), listed->second.end(), "folder|ALBUMS|\\ALBUMS|0|1"));
        }
        EXPECT_EQ(S_OK, session.Close());
    }
    SetEnvironmentVariableA("KWEP_SIMULATED_PLAYER", nullptr);
    ASSERT_EQ(0, sim.Stop()) << "playersim did not save and export";

    // The card's figures against mtools on the exported image.
    const test_support::Bytes bytes = test_support::ReadFile(image);
    ASSERT_GE(bytes.size(), 512u);
    const MtoolsFigures mtools = ReadWithMtools(test_support::UnixPath(image), VolumeOffset(bytes));
    ASSERT_GT(mtools.total, 0u) << mtools.report;
    EXPECT_EQ(mtools.total, info.cardTotal) << mtools.report;
    EXPECT_EQ(mtools.free, info.cardFree) << mtools.report;
    CoUninitialize();
}

INSTANTIATE_TEST_SUITE_P(Cards, DeviceSessionOutsideTest,
                         ::testing::Values(CardCase{"MmcSd64", L"sd:64"}, CardCase{"MmcSd2048", L"sd:2048"}),
                         [](const ::testing::TestParamInfo<CardCase>& info) { return std::string(info.param.name); });

}  // namespace
