#include "runtime/xml_parser.h"

#include <exception>
#include <new>

#include <pugixml.hpp>

#include "runtime/xml_path_query.h"
#include "runtime/zarn_file_base.h"

namespace kestrav
{
namespace
{
pugi::xml_node FindElement(const pugi::xml_document* document, std::string_view path)
{
    if (document == nullptr)
        return {};
    const auto steps = ParseXmlPath(path);
    if (!steps)
        return {};
    return SelectFirstElement(*document, *steps);
}

// The element's text content: every text and CDATA section below it, in document order.
std::string TextContent(pugi::xml_node element)
{
    if (!element)
        return {};
    const pugi::xpath_query stringValue("string(.)");
    return stringValue.evaluate_string(pugi::xpath_node(element));
}
}

CXMLParser::CXMLParser() = default;

CXMLParser::~CXMLParser()
{
    CloseDocument();
}

bool CXMLParser::OpenDocument(const std::string& fileName)
{
    CRecursiveLockGuard guard(m_lock);
    if (m_loaded || fileName.empty())
        return false;
    {
        CZarnFileBase probe;
        if (probe.Open(fileName) == FileProbeResult::Absent)
            return false;
    }
    try
    {
        auto document = std::make_unique<pugi::xml_document>();
        if (!document->load_file(fileName.c_str()))
            return false;
        m_document = std::move(document);
        m_fileName = fileName;
        m_loaded = true;
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

void CXMLParser::CloseDocument()
{
    CRecursiveLockGuard guard(m_lock);
    if (!m_loaded)
        return;
    m_document.reset();
    m_fileName.clear();
    m_loaded = false;
}

bool CXMLParser::IsLoaded()
{
    CRecursiveLockGuard guard(m_lock);
    return m_loaded;
}

// A lookup that fails (out of memory) finds nothing; the configuration then keeps its defaults.
bool CXMLParser::NodeExists(std::string_view path)
{
    CRecursiveLockGuard guard(m_lock);
    try
    {
        return static_cast<bool>(FindElement(m_document.get(), path));
    }
    catch (const std::exception&)
    {
        return false;
    }
}

std::string CXMLParser::GetNodeText(std::string_view path)
{
    CRecursiveLockGuard guard(m_lock);
    try
    {
        return TextContent(FindElement(m_document.get(), path));
    }
    catch (const std::exception&)
    {
        return {};
    }
}

std::string CXMLParser::GetAttribute(std::string_view path, std::string_view attributeName)
{
    CRecursiveLockGuard guard(m_lock);
    try
    {
        const pugi::xml_node element = FindElement(m_document.get(), path);
        for (const pugi::xml_attribute attribute : element.attributes())
        {
            if (attributeName == attribute.name())
                return attribute.value();
        }
        return {};
    }
    catch (const std::exception&)
    {
        return {};
    }
}
}
