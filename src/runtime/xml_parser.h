// A read-only XML document, looked at through the path forms of xml_path.h.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "runtime/recursive_lock.h"

namespace pugi
{
class xml_document;
}

namespace kestrav
{
// Texts are UTF-8 on both sides; the document's own encoding (UTF-8 or UTF-16 with a byte
// order mark) is converted when it is loaded. All operations are serialised by the object's lock.
class CXMLParser
{
public:
    CXMLParser();
    CXMLParser(const CXMLParser&) = delete;
    CXMLParser& operator=(const CXMLParser&) = delete;
    virtual ~CXMLParser();

    // False for an empty name, a file that is not there, a file that does not load, and while
    // another document is loaded.
    bool OpenDocument(const std::string& fileName);
    void CloseDocument();

    bool IsLoaded();
    bool NodeExists(std::string_view path);
    // All text inside the first element the path selects, as it stands in the file; empty when
    // there is no such element.
    std::string GetNodeText(std::string_view path);
    // Empty when the element or its attribute is missing.
    std::string GetAttribute(std::string_view path, std::string_view attributeName);

private:
    CRecursiveLock m_lock;
    std::unique_ptr<pugi::xml_document> m_document;
    bool m_loaded = false;
    std::string m_fileName;
};
}
