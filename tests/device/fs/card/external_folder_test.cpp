// The card's folder object on both card kinds: a long random sequence of folder and file operations,
// formats, injected transfer failures and cancels against a plain model of the tree (listings compared
// after every step, the exported card checked by fsck.fat and read back by mcopy at the end).
#include "tests/device/fs/card/external_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <sstream>

using namespace engine;
using namespace exttest;

namespace {

class ExternalFolderTest : public ::testing::TestWithParam<CardKindCase> {
protected:
    void SetUp() override
    {
        for (const char* tool : {"fsck.fat", "mcopy", "mmd", "mdir"})
            ASSERT_TRUE(test_support::HostHasProgram(tool)) << tool;
        ASSERT_TRUE(card.Start());
        SetProgressSink(&progress);
    }
    void TearDown() override
    {
        SetProgressSink(nullptr);
        Engine.CancelRequested = 0;
        card.Test().Server().ClearFault();
    }
    CardPlayer card{GetParam()};
    ProgressRecorder progress;
};

// ---- the model ----

struct MEntry {
    std::string name;
    bool dir = false;
    bool self = false;  // a folder's own name entry inside its directory
    std::uint16_t id = 0;
    Bytes content;
    bool known = true;  // content still checked (false after a failed delete that may have erased it)
};

struct Model {
    std::map<std::uint32_t, std::vector<MEntry>> folders{{0, {}}};
    std::map<std::uint32_t, std::uint32_t> parent;

    // The entry an id lookup of the folder finds: the first live one with that id.
    int Find(std::uint32_t folder, std::uint16_t id) const
    {
        const auto& v = folders.at(folder);
        for (std::size_t i = 0; i < v.size(); ++i)
            if (v[i].id == id && !v[i].self)
                return int(i);
        return -1;
    }
    int Depth(std::uint32_t folder) const
    {
        int d = 0;
        while (folder != 0) {
            folder = parent.at(folder);
            ++d;
        }
        return d;
    }
    bool Within(std::uint32_t folder, std::uint32_t ancestor) const
    {
        for (std::uint32_t f = folder;; f = parent.at(f)) {
            if (f == ancestor)
                return true;
            if (f == 0)
                return false;
        }
    }
    void DropTree(std::uint32_t folder)
    {
        for (const MEntry& e : folders[folder])
            if (e.dir && !e.self)
                DropTree(e.id);
        folders.erase(folder);
        parent.erase(folder);
    }
    std::string Path(std::uint32_t folder) const
    {
        std::string p;
        while (folder != 0) {
            std::uint32_t up = parent.at(folder);
            for (const MEntry& e : folders.at(up))
                if (e.dir && !e.self && e.id == folder)
                    p = e.name + "/" + p;
            folder = up;
        }
        return p;
    }
};

// The folder's listing as the model says it: "." and ".." first in a subfolder.
std::string Describe(const std::vector<Entry>& v)
{
    std::string s;
    for (const Entry& e : v)
        s += e.name + "(" + std::to_string(e.id) + "," + std::to_string(e.size) + "," + std::to_string(e.attributes) +
             ") ";
    return s;
}

bool Matches(const std::vector<Entry>& listed, std::uint32_t folder, const std::vector<MEntry>& model)
{
    std::size_t dots = folder == 0 ? 0 : 2;
    if (listed.size() != model.size() + dots)
        return false;
    if (dots && (listed[0].name.rfind(".", 0) != 0 || listed[1].name.rfind("..", 0) != 0 || listed[0].id != folder))
        return false;
    for (std::size_t i = 0; i < model.size(); ++i) {
        const Entry& l = listed[i + dots];
        const MEntry& m = model[i];
        if (l.name != m.name || l.id != m.id)
            return false;
        if (m.self  ? l.attributes != kAttrFolderSelf
            : m.dir ? (l.attributes & kAttrDirectory) == 0
                    : ((l.attributes & kAttrDirectory) != 0 || l.size != m.content.size()))
            return false;
    }
    return true;
}

}  // namespace

TEST_P(ExternalFolderTest, RandomOperationsAgreeWithTheModel)
{
    constexpr int kFormat = 10;
    // A fixed seed; KWEP_RANDOM_SEED runs another one.
    const char* chosen = std::getenv("KWEP_RANDOM_SEED");
    const unsigned seed = chosen ? static_cast<unsigned>(std::strtoul(chosen, nullptr, 10))
                                 : 20240611u + static_cast<unsigned>(GetParam().model);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](std::size_t n) {
        return std::size_t(rng() % n);
    };
    const std::uint32_t cb = card.ClusterBytes();
    Model model;
    int counter = 0;
    auto newName = [&](bool dir) {
        ++counter;
        switch (rng() % 3) {
        case 0:
            return (dir ? "D" : "F") + std::to_string(counter) + (dir ? "" : ".BIN");
        case 1:
            return std::string(dir ? "Folder " : "file ") + std::to_string(counter) +
                   (dir ? "" : " with a long name.dat");
        default:
            return std::string(dir ? "dir" : "song") + std::to_string(counter) + (dir ? "" : ".txt");
        }
    };
    auto check = [&](std::uint32_t folder, const std::string& step) {
        auto f = card.Open(folder);
        ASSERT_TRUE(f) << step;
        auto listed = List(*f);
        std::string m;
        for (const MEntry& e : model.folders[folder])
            m += e.name + "(" + std::to_string(e.id) + ") ";
        ASSERT_TRUE(Matches(listed, folder, model.folders[folder]))
            << step << " in folder " << folder << ": " << Describe(listed) << "\nmodel: " << m;
    };
    // A folder's listing; an unreadable folder fails in Open and lists as empty.
    auto listOf = [&](std::uint32_t id) {
        auto f = card.Open(id);
        return f ? List(*f) : std::vector<Entry>{};
    };
    auto anyFolder = [&]() {
        auto it = model.folders.begin();
        std::advance(it, pick(model.folders.size()));
        return it->first;
    };
    auto anyEntry = [&](std::uint32_t folder) -> int {
        const auto& v = model.folders[folder];
        std::vector<int> live;
        for (std::size_t i = 0; i < v.size(); ++i)
            if (!v[i].self)
                live.push_back(int(i));
        return live.empty() ? -1 : live[pick(live.size())];
    };
    auto sizeOf = [&]() -> std::size_t {
        switch (rng() % 6) {
        case 0:
            return 0;
        case 1:
            return 1 + rng() % 600;
        case 2:
            return cb;
        case 3:
            return cb + 1;
        case 4:
            return 2 * cb + rng() % cb;
        default:
            return rng() % (3 * cb);
        }
    };

    const int steps = 160;
    for (int step = 0; step < steps && !HasFatalFailure(); ++step) {
        const std::uint32_t folder = anyFolder();
        auto f = card.Open(folder);
        ASSERT_TRUE(f) << "step " << step;
        // Deletes take whole trees, so they come less often than the steps that fill the card.
        int op = int(rng() % 10);
        if (op == 7)
            op = 1;
        // Halfway and now and then a format empties the card; none comes near the end, which reads the
        // files back.
        if (step == steps / 2 || (step < steps - 60 && rng() % 80 == 0))
            op = kFormat;
        const bool inject = rng() % 10 == 0;
        std::string what = "step " + std::to_string(step) + " op " + std::to_string(op);
        Model before = model;
        std::uint32_t touched2 = folder;
        // The fault is placed right before the operation, so that it falls among the operation's own
        // transfers and not among the test's.
        const std::uint64_t faultAt = inject ? 1 + rng() % 30 : 0;
        auto arm = [&] {
            if (faultAt)
                card.Test().Server().InjectFault(sim::FaultKind::Fail, faultAt);
        };
        std::uint32_t status = kStatusOk;
        std::int32_t deleting = -1;

        if (op == kFormat) {
            arm();
            status = card.Format();
            if (status != kStatusOk) {
                // A format cut short leaves whatever it got to; formatting again gives an empty card.
                ASSERT_TRUE(inject) << what << " failed (" << status << ") with no fault injected";
                card.Test().Server().ClearFault();
                ASSERT_EQ(card.Format(), kStatusOk) << what << ", formatted again";
            }
            card.Test().Server().ClearFault();
            model = Model{};
            check(0, what);
            ASSERT_EQ(card.Identify(), kStatusOk) << what;
            check(0, what + " after a fresh mount");
            continue;
        }
        if (op == 0 && model.Depth(folder) < 5) {  // new folder
            std::string name = newName(true);
            std::uint32_t id = 0;
            arm();
            status = f->CreateSubfolder(Wide(name).c_str(), &id);
            if (status == kStatusOk) {
                model.folders[folder].push_back({name, true, false, std::uint16_t(id), {}, true});
                model.folders[id] = {{name, true, true, std::uint16_t(id), {}, true}};
                model.parent[id] = folder;
            }
        } else if (op <= 2) {  // download or stream
            std::string name = newName(false);
            Bytes content = RandomBytes(sizeOf(), rng());
            if (op == 1) {
                bool cancel = !inject && content.size() > cb && rng() % 4 == 0;
                progress.cancelAfter = cancel ? 1 : 0;
                const std::string pc = card.PcFile(name, content);
                arm();
                status = f->DownloadFile(Wide(pc).c_str());
                progress.cancelAfter = 0;
                Engine.CancelRequested = 0;
                if (cancel) {
                    ASSERT_EQ(status, kStatusOk) << what;
                    card.Test().Server().ClearFault();
                    check(folder, what + " cancelled");
                    continue;
                }
            } else {
                arm();
                status = f->Create(Wide(name).c_str());
                for (std::size_t at = 0; status == kStatusOk && at < content.size();) {
                    std::size_t chunk = std::min<std::size_t>(content.size() - at, 1 + rng() % (cb + 100));
                    status = f->Write(content.data() + at, std::uint32_t(chunk));
                    at += chunk;
                }
                if (status == kStatusOk)
                    status = f->Close();
            }
            if (status == kStatusOk) {
                card.Test().Server().ClearFault();  // a fault the operation did not reach
                auto listed = listOf(folder);
                std::uint16_t id = 0;
                for (const Entry& e : listed)
                    if (e.name == name)
                        id = e.id;
                model.folders[folder].push_back({name, false, false, id, content, true});
            }
        } else if (int at = anyEntry(folder); at < 0) {
            continue;
        } else {
            MEntry e = model.folders[folder][at];
            at = model.Find(folder, e.id);  // what a lookup by this id finds
            e = model.folders[folder][at];
            auto& list = model.folders[folder];
            if (op == 3) {  // upload, whole or through the stream
                Bytes got;
                if (rng() % 2) {
                    std::string out = card.Temp().File("out.bin").string();
                    arm();
                    status = f->UploadFile(e.id, Wide(out).c_str());
                    if (status == kStatusOk)
                        got = ReadFile(out);
                } else {
                    arm();
                    status = f->OpenRead(e.id);
                    std::vector<std::uint8_t> chunk(777);
                    for (std::uint32_t n = 1; status == kStatusOk && n > 0;) {
                        status = f->Read(chunk.data(), std::uint32_t(chunk.size()), &n);
                        got.insert(got.end(), chunk.begin(), chunk.begin() + n);
                    }
                    if (status == kStatusOk)
                        status = f->Close();
                }
                if (e.dir) {
                    EXPECT_NE(status, kStatusOk) << what;
                    status = kStatusOk;
                } else if (status == kStatusOk && e.known) {
                    EXPECT_TRUE(got == e.content) << what << " " << e.name;
                }
            } else if (op == 4) {  // rename
                std::string name = newName(e.dir);
                arm();
                status = f->RenameEntry(e.id, Wide(name).c_str(), 0);
                if (status == kStatusOk) {
                    MEntry moved = e;
                    moved.name = name;
                    list.erase(list.begin() + at);
                    list.push_back(moved);
                    if (e.dir) {
                        auto& inner = model.folders[e.id];
                        auto self = std::find_if(inner.begin(), inner.end(), [](const MEntry& m) { return m.self; });
                        MEntry s = *self;
                        s.name = name;
                        inner.erase(self);
                        inner.push_back(s);
                    }
                }
            } else if (op == 5) {  // move
                const std::uint32_t target = anyFolder();
                touched2 = target;
                auto t = card.Open(target);
                ASSERT_TRUE(t) << what;
                arm();
                status = t->MoveEntry(folder, folder == 0 ? 1 : 0, e.id);
                bool refused = target == folder || (e.dir && model.Within(target, e.id));
                if (refused) {
                    // Refused, unless a failed read came first.
                    EXPECT_TRUE(status == kStatusFolderError || (faultAt && status == kStatusUsbError))
                        << what << ": " << status;
                    status = kStatusOk;
                } else if (status == kStatusOk) {
                    list.erase(list.begin() + at);
                    model.folders[target].push_back(e);
                    if (e.dir)
                        model.parent[e.id] = target;
                }
            } else if (op == 6) {  // delete
                deleting = e.id;
                arm();
                status = f->DeleteFile(e.id);
                if (status == kStatusOk) {
                    list.erase(list.begin() + at);
                    if (e.dir)
                        model.DropTree(e.id);
                }
            } else {  // play order
                const std::uint32_t dots = folder == 0 ? 0 : 2;
                const std::uint32_t position = dots + std::uint32_t(pick(list.size()));
                arm();
                status = f->SetPlayIndex(e.id, position);
                if (status == kStatusOk) {
                    list.erase(list.begin() + at);
                    list.insert(list.begin() + (position - dots), e);
                }
            }
        }
        card.Test().Server().ClearFault();
        if (status != kStatusOk) {
            ASSERT_TRUE(inject) << what << " failed (" << status << ") with no fault injected";
            EXPECT_EQ(status, kStatusUsbError) << what;
            // A failed operation leaves the card as it was before or, where the failure came after the
            // last write, as it would be after; the volume is mounted afresh as after an error.
            ASSERT_EQ(card.Identify(), kStatusOk) << what;
            Model after = model;
            model = before;
            if (!(Matches(listOf(folder), folder, model.folders[folder]) &&
                  Matches(listOf(touched2), touched2, model.folders[touched2]))) {
                model = after;
                ASSERT_TRUE(Matches(listOf(folder), folder, model.folders[folder]) &&
                            Matches(listOf(touched2), touched2, model.folders[touched2]))
                    << what << " failed (" << status << ") and left neither state: " << Describe(listOf(folder));
            }
            if (op == 6 && deleting >= 0) {
                // A delete cut short may have erased part of what it was deleting.
                std::function<void(std::uint32_t)> forget = [&](std::uint32_t id) {
                    for (MEntry& m : model.folders[id]) {
                        m.known = false;
                        if (m.dir && !m.self && m.id != id && model.folders.count(m.id))
                            forget(m.id);
                    }
                };
                for (MEntry& m : model.folders[folder]) {
                    if (m.id == deleting && !m.self) {
                        m.known = false;
                        if (m.dir)
                            forget(m.id);
                    }
                }
            }
            continue;
        }
        check(folder, what);
        if (touched2 != folder && model.folders.count(touched2))
            check(touched2, what);
        if (step % 40 == 39) {
            ASSERT_EQ(card.Identify(), kStatusOk);
            for (const auto& [id, v] : model.folders)
                check(id, what + " after a fresh mount");
        }
    }

    // The tools agree: a clean volume and every file's bytes.
    sim::CardImageAudit audit;
    auto image = card.Export(&audit);
    ASSERT_TRUE(image);
    EXPECT_EQ(audit.eccMismatches, 0u);
    EXPECT_EQ(audit.malformedFields, 0u);
    CardImage part(card.Temp(), *image);
    EXPECT_EQ(WithoutBootSectorLabel(WithoutSelfEntries(part.Fsck())), "");
    int files = 0;
    for (const auto& [id, v] : model.folders) {
        for (const MEntry& m : v) {
            if (m.dir || !m.known)
                continue;
            auto read = part.Read(model.Path(id) + m.name);
            ASSERT_TRUE(read) << model.Path(id) + m.name;
            EXPECT_TRUE(*read == m.content) << model.Path(id) + m.name;
            ++files;
        }
    }
    EXPECT_GT(files, 0);
}

INSTANTIATE_TEST_SUITE_P(Cards, ExternalFolderTest, ::testing::ValuesIn(kCardKinds),
                         [](const auto& info) { return std::string(info.param.name); });
