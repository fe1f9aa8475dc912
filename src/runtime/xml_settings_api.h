// A read/write XML settings document (the PTZ preset file): every setting is the attribute
// "value" of the element a path names, and writing a setting creates its path.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/printf_format.h"
#include "runtime/recursive_lock.h"

namespace pugi
{
class xml_document;
}

namespace kestrav
{
enum class SettingsStatus
{
    Success,
    InvalidArgument,
    Failure,
};

// Paths are printf formats of the forms in xml_path.h, formatted with FormatXmlPath: text
// arguments are escaped, so a value with quotation marks stays a value. Texts are UTF-8; the
// file is written in UTF-8. All operations are serialised by the object's lock, and opens are
// counted: the document stays loaded until the last CloseDocument.
class CXMLSettingsAPI
{
public:
    // Files live in the running host's directory.
    CXMLSettingsAPI();
    explicit CXMLSettingsAPI(std::string hostDirectory);
    CXMLSettingsAPI(const CXMLSettingsAPI&) = delete;
    CXMLSettingsAPI& operator=(const CXMLSettingsAPI&) = delete;
    // Releases an open document without saving it.
    virtual ~CXMLSettingsAPI();

    // Where OpenDocument and CreateDocument look for file names; empty for the host directory.
    void SetBaseDirectory(std::string directory);

    // When already open only counts the open. Otherwise loads the base directory's file, which
    // must exist and not be empty: InvalidArgument for an empty name, Failure when it is missing,
    // empty or does not load.
    SettingsStatus OpenDocument(const std::string& fileName);
    // The opens that remain; the last one releases the document (unsaved changes are dropped).
    std::int32_t CloseDocument();
    // Through a new file renamed over the old one: a failed save leaves the old file as it was.
    bool SaveDocument();
    // Writes a new file holding the XML declaration and an empty root element; does nothing and
    // succeeds while a document is open. The new file is not opened.
    SettingsStatus CreateDocument(const std::string& rootName, const std::string& fileName);

    bool NodeExists(const char* pathFormat, ...) KESTRAV_PRINTF_FORMAT(2, 3);
    // The element's "value" attribute; empty when the element or the attribute is missing.
    std::string GetNodeValue(const char* pathFormat, ...) KESTRAV_PRINTF_FORMAT(2, 3);
    // Sets the element's "value" attribute, creating the element and any missing element on the
    // way to it. An empty value writes nothing and gives false. Not saved until SaveDocument.
    bool SetNodeValue(std::string_view value, const char* pathFormat, ...) KESTRAV_PRINTF_FORMAT(3, 4);
    // Removes the first element the path names with everything below it, then saves the document.
    // The root element is never removed: a file without one could not be loaded again.
    bool RemoveNode(const char* pathFormat, ...) KESTRAV_PRINTF_FORMAT(2, 3);
    // The same without the save, for a caller that rewrites a part and saves once at the end.
    bool RemoveNodeUnsaved(const char* pathFormat, ...) KESTRAV_PRINTF_FORMAT(2, 3);

    std::int32_t GetOpenCount();
    bool IsModified();
    // The file the open document came from; empty when closed.
    std::string GetFullPath();
    // Where OpenDocument and CreateDocument would look for `fileName`.
    std::string PathOf(const std::string& fileName);

private:
    std::string FullPathOf(const std::string& fileName) const;
    bool Save();
    bool RemoveElement(const std::string& path, bool save);
    // Runs `action` on the open document under the lock; `failure` when no document is open or
    // the action throws.
    template <typename Result, typename Action> Result WithOpenDocument(Result failure, Action&& action);

    CRecursiveLock m_lock;
    std::unique_ptr<pugi::xml_document> m_document;
    std::int32_t m_openCount = 0;
    std::string m_fullPath;
    std::string m_hostDirectory;
    std::string m_baseDirectory;
    bool m_modified = false;
};
}
