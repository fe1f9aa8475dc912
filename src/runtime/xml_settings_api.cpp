#include "runtime/xml_settings_api.h"

#include <cstdarg>
#include <exception>
#include <filesystem>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "platform/files.h"
#include "platform/process.h"
#include "runtime/host_directory.h"
#include "runtime/xml_path_query.h"

namespace kestrav
{
namespace
{
constexpr const char* kValueAttribute = "value";

// Never throws: a path that cannot be formatted names nothing.
std::string FormatPath(const char* format, va_list arguments)
{
    try
    {
        return FormatXmlPathV(format, arguments);
    }
    catch (const std::bad_alloc&)
    {
        return {};
    }
}

pugi::xml_node FindElement(const pugi::xml_document& document, const std::string& path)
{
    const auto steps = ParseXmlPath(path);
    if (!steps)
        return {};
    return SelectFirstElement(document, *steps);
}

void SetAttribute(pugi::xml_node element, const std::string& name, std::string_view value)
{
    // Set, never append: two conditions on one attribute must not give it twice, which would
    // make the saved file unreadable.
    pugi::xml_attribute attribute = element.attribute(name.c_str());
    if (!attribute)
        attribute = element.append_attribute(name.c_str());
    attribute.set_value(value.data(), value.size());
}

// Creates the missing elements of `steps` below the deepest element that already exists, each
// with the attributes of its conditions. Gives the last element, or an empty node when the path
// cannot be created so that it finds that element again; nothing is left behind then.
pugi::xml_node CreatePath(pugi::xml_document& document, const std::vector<XmlPathStep>& steps)
{
    std::size_t existing = steps.size();
    pugi::xml_node parent;
    while (existing > 0)
    {
        parent = SelectFirstElement(document, std::vector<XmlPathStep>(steps.begin(), steps.begin() + existing));
        if (parent)
            break;
        --existing;
    }
    // A document holds exactly one root element, and the path would need another.
    if (!parent)
        return {};

    pugi::xml_node firstCreated;
    pugi::xml_node element = parent;
    for (std::size_t index = existing; index < steps.size(); ++index)
    {
        element = element.append_child(steps[index].element.c_str());
        if (!element)
            break;
        if (!firstCreated)
            firstCreated = element;
        for (const XmlPathCondition& condition : steps[index].conditions)
            SetAttribute(element, condition.attribute, condition.value);
    }
    // Contradicting conditions ([@id="1"][@id="2"]) create an element that the path does not find.
    if (element && SelectFirstElement(document, steps) == element)
        return element;
    if (firstCreated)
        firstCreated.parent().remove_child(firstCreated);
    return {};
}

// Writes the whole document to a new file renamed over the old one: a crash or a full disk in the
// middle of a save leaves the previous file as it was instead of an empty or cut one.
bool SaveReplacing(const pugi::xml_document& document, const std::string& fullPath)
{
    std::string text;
    struct TextWriter : pugi::xml_writer
    {
        explicit TextWriter(std::string& target) : out(target) {}
        void write(const void* data, std::size_t size) override { out.append(static_cast<const char*>(data), size); }
        std::string& out;
    } writer(text);
    document.save(writer, "\t", pugi::format_default, pugi::encoding_utf8);
    return platform::ReplaceFileContents(fullPath, text);
}

bool IsElementName(const std::string& name)
{
    const auto steps = ParseXmlPath(name);
    return steps && steps->size() == 1 && steps->front().conditions.empty() && steps->front().element == name;
}
}

CXMLSettingsAPI::CXMLSettingsAPI() : CXMLSettingsAPI(HostDirectory()) {}

CXMLSettingsAPI::CXMLSettingsAPI(std::string hostDirectory) : m_hostDirectory(std::move(hostDirectory)) {}

CXMLSettingsAPI::~CXMLSettingsAPI() = default;

void CXMLSettingsAPI::SetBaseDirectory(std::string directory)
{
    CRecursiveLockGuard guard(m_lock);
    m_baseDirectory = std::move(directory);
}

std::string CXMLSettingsAPI::FullPathOf(const std::string& fileName) const
{
    std::string directory = m_baseDirectory.empty() ? m_hostDirectory : m_baseDirectory;
    if (!directory.empty() && !platform::IsPathSeparator(directory.back()))
        directory += platform::kPathSeparator;
    return directory + fileName;
}

SettingsStatus CXMLSettingsAPI::OpenDocument(const std::string& fileName)
{
    CRecursiveLockGuard guard(m_lock);
    if (m_openCount > 0)
    {
        ++m_openCount;
        return SettingsStatus::Success;
    }
    if (fileName.empty())
        return SettingsStatus::InvalidArgument;
    try
    {
        const std::string fullPath = FullPathOf(fileName);
        std::error_code error;
        const auto size = std::filesystem::file_size(fullPath, error);
        if (error || size == 0)
            return SettingsStatus::Failure;

        auto document = std::make_unique<pugi::xml_document>();
        if (!document->load_file(fullPath.c_str(), pugi::parse_default | pugi::parse_declaration))
            return SettingsStatus::Failure;
        m_document = std::move(document);
        m_fullPath = fullPath;
        m_openCount = 1;
        return SettingsStatus::Success;
    }
    catch (const std::exception&)
    {
        return SettingsStatus::Failure;
    }
}

std::int32_t CXMLSettingsAPI::CloseDocument()
{
    CRecursiveLockGuard guard(m_lock);
    if (m_openCount <= 0)
        return 0;
    if (--m_openCount == 0)
    {
        m_document.reset();
        m_fullPath.clear();
        m_modified = false;
    }
    return m_openCount;
}

bool CXMLSettingsAPI::SaveDocument()
{
    CRecursiveLockGuard guard(m_lock);
    return Save();
}

bool CXMLSettingsAPI::Save()
{
    if (m_openCount <= 0 || !m_document)
        return false;
    try
    {
        return SaveReplacing(*m_document, m_fullPath);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

SettingsStatus CXMLSettingsAPI::CreateDocument(const std::string& rootName, const std::string& fileName)
{
    CRecursiveLockGuard guard(m_lock);
    if (m_openCount > 0)
        return SettingsStatus::Success;
    try
    {
        if (fileName.empty() || !IsElementName(rootName))
            return SettingsStatus::InvalidArgument;
        pugi::xml_document document;
        pugi::xml_node declaration = document.append_child(pugi::node_declaration);
        declaration.append_attribute("version").set_value("1.0");
        declaration.append_attribute("encoding").set_value("utf-8");
        if (!document.append_child(rootName.c_str()))
            return SettingsStatus::Failure;
        const std::string fullPath = FullPathOf(fileName);
        return SaveReplacing(document, fullPath) ? SettingsStatus::Success : SettingsStatus::Failure;
    }
    catch (const std::exception&)
    {
        return SettingsStatus::Failure;
    }
}

template <typename Result, typename Action> Result CXMLSettingsAPI::WithOpenDocument(Result failure, Action&& action)
{
    CRecursiveLockGuard guard(m_lock);
    if (m_openCount <= 0 || !m_document)
        return failure;
    try
    {
        return action(*m_document);
    }
    catch (const std::exception&)
    {
        return failure;
    }
}

bool CXMLSettingsAPI::NodeExists(const char* pathFormat, ...)
{
    va_list arguments;
    va_start(arguments, pathFormat);
    const std::string path = FormatPath(pathFormat, arguments);
    va_end(arguments);
    return WithOpenDocument(false, [&](pugi::xml_document& document) { return !!FindElement(document, path); });
}

std::string CXMLSettingsAPI::GetNodeValue(const char* pathFormat, ...)
{
    va_list arguments;
    va_start(arguments, pathFormat);
    const std::string path = FormatPath(pathFormat, arguments);
    va_end(arguments);
    return WithOpenDocument(std::string{}, [&](pugi::xml_document& document)
                            { return std::string(FindElement(document, path).attribute(kValueAttribute).value()); });
}

bool CXMLSettingsAPI::SetNodeValue(std::string_view value, const char* pathFormat, ...)
{
    va_list arguments;
    va_start(arguments, pathFormat);
    const std::string path = FormatPath(pathFormat, arguments);
    va_end(arguments);

    // An attribute cannot hold a zero character; cutting the value there would store another one.
    if (value.empty() || value.find('\0') != std::string_view::npos)
        return false;
    return WithOpenDocument(false,
                            [&](pugi::xml_document& document)
                            {
                                const auto steps = ParseXmlPath(path);
                                if (!steps)
                                    return false;
                                pugi::xml_node element = SelectFirstElement(document, *steps);
                                if (!element)
                                    element = CreatePath(document, *steps);
                                if (!element)
                                    return false;
                                m_modified = true;
                                SetAttribute(element, kValueAttribute, value);
                                return true;
                            });
}

bool CXMLSettingsAPI::RemoveNode(const char* pathFormat, ...)
{
    va_list arguments;
    va_start(arguments, pathFormat);
    const std::string path = FormatPath(pathFormat, arguments);
    va_end(arguments);
    return RemoveElement(path, true);
}

bool CXMLSettingsAPI::RemoveNodeUnsaved(const char* pathFormat, ...)
{
    va_list arguments;
    va_start(arguments, pathFormat);
    const std::string path = FormatPath(pathFormat, arguments);
    va_end(arguments);
    return RemoveElement(path, false);
}

bool CXMLSettingsAPI::RemoveElement(const std::string& path, bool save)
{
    return WithOpenDocument(false,
                            [&](pugi::xml_document& document)
                            {
                                const pugi::xml_node element = FindElement(document, path);
                                if (!element || element == document.document_element())
                                    return false;
                                if (!element.parent().remove_child(element))
                                    return false;
                                m_modified = true;
                                return !save || Save();
                            });
}

std::int32_t CXMLSettingsAPI::GetOpenCount()
{
    CRecursiveLockGuard guard(m_lock);
    return m_openCount;
}

bool CXMLSettingsAPI::IsModified()
{
    CRecursiveLockGuard guard(m_lock);
    return m_modified;
}

std::string CXMLSettingsAPI::PathOf(const std::string& fileName)
{
    CRecursiveLockGuard guard(m_lock);
    return FullPathOf(fileName);
}

std::string CXMLSettingsAPI::GetFullPath()
{
    CRecursiveLockGuard guard(m_lock);
    return m_fullPath;
}
}
