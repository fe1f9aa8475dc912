// The preset list over a real preset file in a temporary directory, with the camera's preset commands
// answered by a fake.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fake_preposition_comm.h"
#include "host_fixture.h"
#include "platform/files.h"
#include "ptz/preposition_list.h"
#include "ptz/ptz_result_codes.h"

namespace kestrav
{
namespace
{
constexpr const char* kRoot = "BrantelIPCapture";
constexpr const char* kFile = "BrantelIPCapture_001CA8123456.preset";

std::string Record(unsigned index, const std::string& name, const std::string& slot)
{
    char element[32];
    std::snprintf(element, sizeof element, "Preposition%.3u", index);
    return std::string("<") + element + "><Name value=\"" + name + "\"/><Slot value=\"" + slot + "\"/></" + element +
           ">";
}

std::string PresetFile(const std::string& records)
{
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<") + kRoot + "><PtzChannel01>" + records +
           "</PtzChannel01></" + kRoot + ">\n";
}

class PrepositionListTest : public ::testing::Test
{
protected:
    std::filesystem::path FilePath() const { return directory.Path() / kFile; }
    std::string FileText() const
    {
        std::ifstream file(FilePath(), std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
    void WriteFile(const std::string& text) const { std::ofstream(FilePath(), std::ios::binary) << text; }

    // A list of `capacity` on a freshly opened store of the file, as the control's Open builds it.
    std::unique_ptr<CPrepositionList> OpenList(std::int64_t capacity, bool expectOpened = true)
    {
        TSmartPtr<CXMLPrepositionReader> store(new CXMLPrepositionReader(kRoot, directory.Text()));
        EXPECT_EQ(store->Open(kFile), expectOpened);
        movedAside = store->GetMovedAsidePath();
        auto list = std::make_unique<CPrepositionList>(0);
        list->SetPrepositionComm(&camera);
        list->SetMaximumPrepositions(capacity);
        list->SetStorage(store);
        return list;
    }

    std::vector<std::string> Names(CPrepositionList& list)
    {
        std::vector<std::string> names;
        std::string name;
        for (std::int32_t index = 0; list.GetPrepositionName(index, name); ++index)
            names.push_back(name);
        EXPECT_EQ(static_cast<std::int32_t>(names.size()), list.GetPrepositionCount());
        return names;
    }

    testing::TemporaryHostDirectory directory;
    testing::FakePrepositionComm camera;
    std::string movedAside;
};

TEST_F(PrepositionListTest, CapacityOfThreeFillsFreeSlotsAndReusesARemovedOne)
{
    auto list = OpenList(3);
    for (const char* name : {"Gate", "Yard", "Door"})
    {
        EXPECT_EQ(list->AddPreposition(name), kPtzDone);
        list->ForgetCurrentPreposition();
    }
    EXPECT_EQ(list->AddPreposition("Roof"), kPtzNoRoomForPreset);
    EXPECT_EQ(camera.lines.back(), "1 kestrav::CPrepositionList::AddPreposition: A preposition \"Roof\" cannot be "
                                   "added. Camera supports saving not more than 3 prepositions.");
    EXPECT_TRUE(list->RemovePreposition("Yard"));
    EXPECT_EQ(list->AddPreposition("Roof"), kPtzDone);
    EXPECT_EQ(camera.TakeCalls(), (std::vector<std::string>{"set 0", "set 1", "set 2", "rem 1", "set 1"}));
    EXPECT_EQ(Names(*list), (std::vector<std::string>{"Gate", "Door", "Roof"}));

    // Everything is in the file, in order, for the next start of the module.
    auto reloaded = OpenList(3);
    EXPECT_EQ(Names(*reloaded), (std::vector<std::string>{"Gate", "Door", "Roof"}));
    std::string current;
    EXPECT_FALSE(reloaded->GetCurrentPreposition(current)) << "loading forgets the current preset";
}

TEST_F(PrepositionListTest, SavingWhileRestingOnAPresetRenamesIt)
{
    auto list = OpenList(4);
    ASSERT_EQ(list->AddPreposition("Gate"), kPtzDone);
    camera.TakeCalls();
    EXPECT_EQ(list->AddPreposition("Front gate"), kPtzDone);
    EXPECT_TRUE(camera.TakeCalls().empty());
    EXPECT_EQ(camera.lines.back(), "3 kestrav::CPrepositionList::RenameCurrentPreposition: A preposition with index 0 "
                                   "was renamed from \"Gate\" to \"Front gate\".");
    const std::size_t lines = camera.lines.size();
    EXPECT_EQ(list->AddPreposition("Front gate"), kPtzDone);
    EXPECT_EQ(camera.lines.size(), lines) << "saving under its own name changes nothing";
    EXPECT_EQ(Names(*OpenList(4)), std::vector<std::string>{"Front gate"});
}

TEST_F(PrepositionListTest, GotoSendsTheSlotOnceAndOnlyForKnownNames)
{
    auto list = OpenList(4);
    ASSERT_EQ(list->AddPreposition("Gate"), kPtzDone);
    list->ForgetCurrentPreposition();
    ASSERT_EQ(list->AddPreposition("Yard"), kPtzDone);
    camera.TakeCalls();

    EXPECT_TRUE(list->GotoPreposition("Gate", 0));
    EXPECT_TRUE(list->GotoPreposition("Gate", 0)) << "already there";
    EXPECT_FALSE(list->GotoPreposition("gate", 0)) << "names are case-sensitive";
    EXPECT_FALSE(list->GotoPreposition("", 0));
    camera.refuseGoto = true;
    EXPECT_FALSE(list->GotoPreposition("Yard", 0));
    EXPECT_EQ(camera.TakeCalls(), (std::vector<std::string>{"goto 0", "goto 1"}));
    std::string current;
    EXPECT_TRUE(list->GetCurrentPreposition(current));
    EXPECT_EQ(current, "Gate") << "a refused goto leaves the camera where it was";
}

TEST_F(PrepositionListTest, RefusesNamesThatCannotBeStored)
{
    auto list = OpenList(4);
    for (const std::string name : {"", "A&B", "Hi!", "<x", "x>", "it's", "say \"hi\""})
    {
        SCOPED_TRACE(name);
        EXPECT_EQ(list->AddPreposition(name), kPtzInvalidArgument);
        EXPECT_EQ(camera.lines.back(), "1 kestrav::CPrepositionList::AddPreposition: A preposition \"" + name +
                                           "\" cannot be added - the name is invalid.");
    }
    EXPECT_TRUE(camera.TakeCalls().empty());

    CPrepositionList withoutCamera(0);
    withoutCamera.SetMaximumPrepositions(4);
    EXPECT_EQ(withoutCamera.AddPreposition("Gate"), kPtzFailed);
}

TEST_F(PrepositionListTest, ASecondSaveUnderANameStoresThatPresetAgain)
{
    auto list = OpenList(4);
    ASSERT_EQ(list->AddPreposition("Gate"), kPtzDone);
    ASSERT_EQ(list->AddPreposition("Yard"), kPtzDone) << "a rename of Gate";
    list->ForgetCurrentPreposition();
    ASSERT_EQ(list->AddPreposition("Door"), kPtzDone);
    list->ForgetCurrentPreposition();
    camera.TakeCalls();

    EXPECT_EQ(list->AddPreposition("Yard"), kPtzDone);
    EXPECT_EQ(camera.TakeCalls(), std::vector<std::string>{"set 0"});
    EXPECT_EQ(list->AddPreposition("Door"), kPtzDone) << "resting on Yard, saving as Door is no rename";
    EXPECT_EQ(camera.TakeCalls(), std::vector<std::string>{"set 1"});
    EXPECT_EQ(Names(*list), (std::vector<std::string>{"Yard", "Door"}));
    camera.refuseSet = true;
    list->ForgetCurrentPreposition();
    EXPECT_EQ(list->AddPreposition("Yard"), kPtzFailed);
}

TEST_F(PrepositionListTest, ACameraRefusingARemovalKeepsThePresetAndSaysSo)
{
    auto list = OpenList(4);
    ASSERT_EQ(list->AddPreposition("Gate"), kPtzDone);
    const std::string before = FileText();
    camera.refuseRemove = true;
    EXPECT_FALSE(list->RemovePreposition("Gate"));
    EXPECT_EQ(Names(*list), std::vector<std::string>{"Gate"});
    EXPECT_EQ(FileText(), before);
    std::string current;
    EXPECT_FALSE(list->GetCurrentPreposition(current));
    EXPECT_FALSE(list->RemovePreposition("Nowhere"));
}

TEST_F(PrepositionListTest, ALoadedFileWithGapsIsRenumberedSoNoPresetIsOverwritten)
{
    // Gaps, a slot beyond the capacity, a slot twice, a name twice and a record without a slot number.
    WriteFile(PresetFile(Record(0, "Gate", "0") + Record(2, "Yard", "2") + Record(3, "Far", "9") +
                         Record(4, "Twin", "2") + Record(5, "Gate", "3") + Record(6, "Broken", "x") +
                         Record(8, "Door", "1")));
    auto list = OpenList(4);
    EXPECT_EQ(Names(*list), (std::vector<std::string>{"Gate", "Yard", "Door"}));
    const std::string renumbered = FileText();
    EXPECT_NE(renumbered.find("Preposition002"), std::string::npos);
    EXPECT_EQ(renumbered.find("Preposition003"), std::string::npos) << renumbered;

    ASSERT_EQ(list->AddPreposition("Roof"), kPtzDone);
    EXPECT_EQ(camera.TakeCalls(), std::vector<std::string>{"set 3"});
    EXPECT_EQ(Names(*OpenList(4)), (std::vector<std::string>{"Gate", "Yard", "Door", "Roof"}));
}

TEST_F(PrepositionListTest, CapacityIsClampedAndZeroLeavesTheFileAlone)
{
    WriteFile(PresetFile(Record(1, "Gate", "0")));
    const std::string before = FileText();
    auto list = OpenList(-5);
    EXPECT_EQ(list->GetMaximumPrepositions(), 0u);
    EXPECT_EQ(list->GetPrepositionCount(), 0);
    EXPECT_EQ(list->AddPreposition("Yard"), kPtzNoRoomForPreset);
    EXPECT_EQ(FileText(), before);

    list->SetMaximumPrepositions(std::int64_t{1} << 40);
    EXPECT_EQ(list->GetMaximumPrepositions(), kMaximumPrepositions);
}

TEST_F(PrepositionListTest, AnUnreadableFileIsMovedAsideAndANewOneCreated)
{
    for (const std::string damaged :
         {"<BrantelIPCapture><PtzChannel01>", "", "<Other/>", "Gate=1\r\nYard=2\r\n", "\xEF\xBB\xBF<Brantel"})
    {
        SCOPED_TRACE(damaged);
        std::filesystem::remove_all(directory.Path());
        std::filesystem::create_directories(directory.Path());
        WriteFile(damaged);
        auto list = OpenList(4);
        ASSERT_FALSE(movedAside.empty());
        std::ifstream kept(movedAside, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), damaged);
        EXPECT_EQ(list->AddPreposition("Gate"), kPtzDone);
        EXPECT_EQ(Names(*OpenList(4)), std::vector<std::string>{"Gate"});
        EXPECT_TRUE(movedAside.empty()) << "a good file stays where it is";
    }
}

TEST_F(PrepositionListTest, AFailedSaveLeavesTheOldFileByteIdentical)
{
    auto list = OpenList(4);
    ASSERT_EQ(list->AddPreposition("Gate"), kPtzDone);
    list->ForgetCurrentPreposition();
    const std::string before = FileText();

    // The temporary file cannot be made (a directory holds its name): the disk is as good as full.
    const std::filesystem::path blocker = FilePath().string() + platform::kReplacementSuffix;
    std::filesystem::create_directory(blocker);
    EXPECT_EQ(list->AddPreposition("Yard"), kPtzFailed);
    EXPECT_FALSE(list->RemovePreposition("Gate"));
    EXPECT_FALSE(list->StoreAll());
    EXPECT_EQ(FileText(), before);

    std::filesystem::remove(blocker);
    EXPECT_TRUE(list->StoreAll()) << "the next save writes what the list holds";
    EXPECT_EQ(Names(*OpenList(4)), std::vector<std::string>{"Yard"});
}

TEST_F(PrepositionListTest, NamesOutsideAsciiSurviveSaveAndReload)
{
    const std::vector<std::string> names = {"Tür Süd", "北門", "Кухня", "café ☕"};
    auto list = OpenList(8);
    for (const std::string& name : names)
    {
        ASSERT_EQ(list->AddPreposition(name), kPtzDone);
        list->ForgetCurrentPreposition();
    }
    EXPECT_EQ(Names(*OpenList(8)), names);
}
}
}
