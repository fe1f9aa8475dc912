#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host_fixture.h"
#include "runtime/xml_settings_api.h"

namespace kestrav
{
namespace
{
constexpr const char* kFile = "00-11-22_10.0.0.5.preset";

class SettingsTest : public ::testing::Test
{
protected:
    std::string FileText(const std::string& name = kFile) const
    {
        std::ifstream file(hostDirectory.Path() / name, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
    void WriteFile(const std::string& content, const std::string& name = kFile) const
    {
        std::ofstream(hostDirectory.Path() / name, std::ios::binary) << content;
    }
    // A new document, opened.
    void Create(CXMLSettingsAPI& settings) const
    {
        ASSERT_EQ(settings.CreateDocument("BrantelIPCapture", kFile), SettingsStatus::Success);
        ASSERT_EQ(settings.OpenDocument(kFile), SettingsStatus::Success);
    }

    testing::TemporaryHostDirectory hostDirectory;
};

TEST_F(SettingsTest, CreatesWritesThroughMissingPathsAndReadsBack)
{
    {
        CXMLSettingsAPI settings;
        Create(settings);
        EXPECT_EQ(settings.GetFullPath(), hostDirectory.Text() + kFile);
        EXPECT_FALSE(settings.NodeExists("BrantelIPCapture/PtzChannel01"));
        for (unsigned record = 0; record < 3; ++record)
        {
            EXPECT_TRUE(settings.SetNodeValue("Preset " + std::to_string(record),
                                              "%s/PtzChannel%.2u/Preposition%.3u/Name", "BrantelIPCapture", 1u,
                                              record));
            EXPECT_TRUE(settings.SetNodeValue(std::to_string(record + 10), "%s/PtzChannel%.2u/Preposition%.3u/Slot",
                                              "BrantelIPCapture", 1u, record));
        }
        EXPECT_TRUE(settings.IsModified());
        EXPECT_TRUE(settings.SaveDocument());
        EXPECT_EQ(settings.CloseDocument(), 0);
        EXPECT_FALSE(settings.IsModified());
    }

    const std::string text = FileText();
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0u) << text;
    EXPECT_EQ(text.find("<PtzChannel01>"), text.rfind("<PtzChannel01>")) << "one channel element for all records";

    CXMLSettingsAPI reopened;
    ASSERT_EQ(reopened.OpenDocument(kFile), SettingsStatus::Success);
    EXPECT_EQ(reopened.GetNodeValue("BrantelIPCapture/PtzChannel01/Preposition002/Name"), "Preset 2");
    EXPECT_EQ(reopened.GetNodeValue("BrantelIPCapture/PtzChannel01/Preposition000/Slot"), "10");
    EXPECT_EQ(reopened.GetNodeValue("BrantelIPCapture/PtzChannel01/Preposition003/Slot"), "");
    EXPECT_EQ(reopened.GetNodeValue("BrantelIPCapture/PtzChannel01"), "") << "an element without a value";
}

TEST_F(SettingsTest, ReplacesAValueInPlace)
{
    CXMLSettingsAPI settings;
    Create(settings);
    ASSERT_TRUE(settings.SetNodeValue("one", "BrantelIPCapture/A"));
    ASSERT_TRUE(settings.SetNodeValue("two", "BrantelIPCapture/A"));
    EXPECT_EQ(settings.GetNodeValue("BrantelIPCapture/A"), "two");
    EXPECT_FALSE(settings.SetNodeValue("", "BrantelIPCapture/B")) << "an empty value writes nothing";
    EXPECT_FALSE(settings.NodeExists("BrantelIPCapture/B"));
    ASSERT_TRUE(settings.SaveDocument());
    const std::string text = FileText();
    EXPECT_EQ(text.find("value="), text.rfind("value=")) << text;
}

TEST_F(SettingsTest, CountsNestedOpens)
{
    CXMLSettingsAPI settings;
    Create(settings);
    EXPECT_EQ(settings.OpenDocument("another name is not looked at"), SettingsStatus::Success);
    EXPECT_EQ(settings.GetOpenCount(), 2);
    ASSERT_TRUE(settings.SetNodeValue("kept", "BrantelIPCapture/A"));
    EXPECT_EQ(settings.CloseDocument(), 1);
    EXPECT_EQ(settings.GetNodeValue("BrantelIPCapture/A"), "kept") << "still open once";
    EXPECT_EQ(settings.CloseDocument(), 0);
    EXPECT_FALSE(settings.NodeExists("BrantelIPCapture")) << "closed";
    EXPECT_FALSE(settings.SetNodeValue("x", "BrantelIPCapture/A"));
    EXPECT_FALSE(settings.SaveDocument());
    EXPECT_EQ(settings.CloseDocument(), 0);

    // The last close dropped the unsaved change.
    ASSERT_EQ(settings.OpenDocument(kFile), SettingsStatus::Success);
    EXPECT_FALSE(settings.NodeExists("BrantelIPCapture/A"));
}

TEST_F(SettingsTest, OpensOnlyFilesWithADocument)
{
    CXMLSettingsAPI settings;
    EXPECT_EQ(settings.OpenDocument(""), SettingsStatus::InvalidArgument);
    EXPECT_EQ(settings.OpenDocument(kFile), SettingsStatus::Failure) << "missing";
    WriteFile("");
    EXPECT_EQ(settings.OpenDocument(kFile), SettingsStatus::Failure) << "empty";
    WriteFile("<BrantelIPCapture><PtzChannel01>");
    EXPECT_EQ(settings.OpenDocument(kFile), SettingsStatus::Failure) << "broken";
    EXPECT_EQ(settings.GetOpenCount(), 0);
    WriteFile("<BrantelIPCapture><A value=\"1\"/></BrantelIPCapture>");
    ASSERT_EQ(settings.OpenDocument(kFile), SettingsStatus::Success);
    EXPECT_EQ(settings.GetNodeValue("BrantelIPCapture/A"), "1");
}

TEST_F(SettingsTest, CreatesOnlyWhileNothingIsOpen)
{
    CXMLSettingsAPI settings;
    EXPECT_EQ(settings.CreateDocument("BrantelIPCapture", ""), SettingsStatus::InvalidArgument);
    EXPECT_EQ(settings.CreateDocument("not a name", kFile), SettingsStatus::InvalidArgument);
    EXPECT_EQ(settings.CreateDocument("Root[@a=\"1\"]", kFile), SettingsStatus::InvalidArgument);
    EXPECT_FALSE(std::filesystem::exists(hostDirectory.Path() / kFile));

    Create(settings);
    ASSERT_TRUE(settings.SetNodeValue("1", "BrantelIPCapture/A"));
    ASSERT_TRUE(settings.SaveDocument());
    const std::string saved = FileText();
    EXPECT_EQ(settings.CreateDocument("Other", kFile), SettingsStatus::Success);
    EXPECT_EQ(FileText(), saved) << "an open document's file is left alone";
}

TEST_F(SettingsTest, RemovesASubtreeAndSaves)
{
    CXMLSettingsAPI settings;
    Create(settings);
    ASSERT_TRUE(settings.SetNodeValue("a", "BrantelIPCapture/PtzChannel01/Preposition000/Name"));
    ASSERT_TRUE(settings.SetNodeValue("b", "BrantelIPCapture/PtzChannel02/Preposition000/Name"));
    EXPECT_TRUE(settings.RemoveNode("BrantelIPCapture/PtzChannel%.2u", 1u));
    EXPECT_FALSE(settings.NodeExists("BrantelIPCapture/PtzChannel01/Preposition000"));
    EXPECT_FALSE(settings.RemoveNode("BrantelIPCapture/PtzChannel01")) << "nothing left to remove";
    EXPECT_FALSE(settings.RemoveNode("BrantelIPCapture")) << "the root element stays";

    // Saved by the removal, with the other channel's unsaved record.
    CXMLSettingsAPI reader;
    ASSERT_EQ(reader.OpenDocument(kFile), SettingsStatus::Success);
    EXPECT_FALSE(reader.NodeExists("BrantelIPCapture/PtzChannel01"));
    EXPECT_EQ(reader.GetNodeValue("BrantelIPCapture/PtzChannel02/Preposition000/Name"), "b");

    settings.CloseDocument();
    EXPECT_FALSE(settings.RemoveNode("BrantelIPCapture/PtzChannel02")) << "closed";
}

TEST_F(SettingsTest, CreatesNoSecondRootAndNoElementItCannotFindAgain)
{
    CXMLSettingsAPI settings;
    Create(settings);
    EXPECT_FALSE(settings.SetNodeValue("x", "Other/A"));
    EXPECT_FALSE(settings.SetNodeValue("x", "BrantelIPCapture/A[@id=\"1\"][@id=\"2\"]/B"));
    EXPECT_FALSE(settings.NodeExists("BrantelIPCapture/A"));
    EXPECT_FALSE(settings.SetNodeValue("x", "BrantelIPCapture/A b"));
    EXPECT_FALSE(settings.SetNodeValue("x", "BrantelIPCapture/A/"));
    ASSERT_TRUE(settings.SaveDocument());

    CXMLSettingsAPI reader;
    ASSERT_EQ(reader.OpenDocument(kFile), SettingsStatus::Success) << "still a well-formed file";
}

TEST_F(SettingsTest, ConditionsSelectAndCreateElements)
{
    CXMLSettingsAPI settings;
    Create(settings);
    ASSERT_TRUE(settings.SetNodeValue("1", "BrantelIPCapture/Item[@name=\"%s\"][@kind=\"%s\"]", "a", "x"));
    ASSERT_TRUE(settings.SetNodeValue("2", "BrantelIPCapture/Item[@name=\"%s\"][@kind=\"%s\"]", "a", "y"));
    ASSERT_TRUE(settings.SetNodeValue("3", "BrantelIPCapture/Item[@name=\"%s\"]/Sub", "b"));
    EXPECT_EQ(settings.GetNodeValue("BrantelIPCapture/Item[@kind=\"y\"]"), "2");
    EXPECT_EQ(settings.GetNodeValue("BrantelIPCapture/Item[@name=\"a\"]"), "1") << "first in document order";
    EXPECT_EQ(settings.GetNodeValue("BrantelIPCapture/Item/Sub"), "3") << "the first Item with a Sub";
}

TEST_F(SettingsTest, QuotationMarksInValuesStayValues)
{
    CXMLSettingsAPI settings;
    Create(settings);
    const std::string name = "Gate \"North\" \\ [@x=\"1\"]";
    ASSERT_TRUE(settings.SetNodeValue("7", "BrantelIPCapture/Preset[@name=\"%s\"]", name.c_str()));
    ASSERT_TRUE(settings.SetNodeValue("8", "BrantelIPCapture/Preset[@name=\"%s\"]", "plain"));
    EXPECT_EQ(settings.GetNodeValue("BrantelIPCapture/Preset[@name=\"%s\"]", name.c_str()), "7");
    // A value shaped to close the condition early finds nothing instead of every preset.
    EXPECT_FALSE(settings.NodeExists("BrantelIPCapture/Preset[@name=\"%s\"]", "x\" or \"1\"=\"1"));
    EXPECT_FALSE(settings.RemoveNode("BrantelIPCapture/Preset[@name=\"%s\"]", "\"] | /*[\""));
    ASSERT_TRUE(settings.SaveDocument());
    settings.CloseDocument();

    ASSERT_EQ(settings.OpenDocument(kFile), SettingsStatus::Success);
    EXPECT_EQ(settings.GetNodeValue("BrantelIPCapture/Preset[@name=\"%s\"]", name.c_str()), "7");
    EXPECT_EQ(settings.GetNodeValue("BrantelIPCapture/Preset[@name=\"plain\"]"), "8");
}

TEST_F(SettingsTest, KeepsNonAsciiTextThroughSaveAndReload)
{
    const std::string names[] = {"Tür Ost", "東門", "🎥 Einfahrt", "Ünïcödé & <tags> \"quoted\""};
    {
        CXMLSettingsAPI settings;
        Create(settings);
        for (unsigned index = 0; index < 4; ++index)
        {
            ASSERT_TRUE(
                settings.SetNodeValue(names[index], "BrantelIPCapture/PtzChannel01/Preposition%.3u/Name", index));
            ASSERT_TRUE(settings.SetNodeValue("1", "BrantelIPCapture/Bereich[@name=\"%s\"]", names[index].c_str()));
        }
        ASSERT_TRUE(settings.SetNodeValue("東", "BrantelIPCapture/Kamera_Tür/東門"));
        ASSERT_TRUE(settings.SaveDocument());
    }
    EXPECT_NE(FileText().find("Tür Ost"), std::string::npos) << "stored as UTF-8";

    CXMLSettingsAPI settings;
    ASSERT_EQ(settings.OpenDocument(kFile), SettingsStatus::Success);
    for (unsigned index = 0; index < 4; ++index)
    {
        EXPECT_EQ(settings.GetNodeValue("BrantelIPCapture/PtzChannel01/Preposition%.3u/Name", index), names[index]);
        EXPECT_TRUE(settings.NodeExists("BrantelIPCapture/Bereich[@name=\"%s\"]", names[index].c_str()));
    }
    EXPECT_EQ(settings.GetNodeValue("BrantelIPCapture/Kamera_Tür/東門"), "東");
}

TEST_F(SettingsTest, BaseDirectoryReplacesTheHostDirectory)
{
    const std::filesystem::path other = hostDirectory.Path() / "presets";
    std::filesystem::create_directories(other);
    CXMLSettingsAPI settings;
    settings.SetBaseDirectory(other.string());
    ASSERT_EQ(settings.CreateDocument("BrantelIPCapture", kFile), SettingsStatus::Success);
    EXPECT_TRUE(std::filesystem::exists(other / kFile));
    EXPECT_FALSE(std::filesystem::exists(hostDirectory.Path() / kFile));
    ASSERT_EQ(settings.OpenDocument(kFile), SettingsStatus::Success);
    EXPECT_EQ(settings.GetFullPath(), (other / kFile).string());

    // A directory ending in '/' is taken as it is, on Windows too.
    CXMLSettingsAPI explicitHost(other.string() + "/");
    EXPECT_EQ(explicitHost.OpenDocument(kFile), SettingsStatus::Success);
    EXPECT_EQ(explicitHost.GetFullPath(), other.string() + "/" + kFile);
}
}
}
