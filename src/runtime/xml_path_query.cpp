#include "runtime/xml_path_query.h"

#include <exception>
#include <string>

namespace kestrav
{
pugi::xml_node SelectFirstElement(const pugi::xml_document& document, const std::vector<XmlPathStep>& steps)
{
    if (steps.empty())
        return {};
    try
    {
        // Names are plain XML names (checked by ParseXmlPath), so they may stand in the query text.
        pugi::xpath_variable_set variables;
        std::string query;
        std::size_t count = 0;
        for (const XmlPathStep& step : steps)
        {
            query += '/';
            query += step.element;
            for (const XmlPathCondition& condition : step.conditions)
            {
                // No attribute holds a zero character; cut at it, the value could match another one.
                if (condition.value.find('\0') != std::string::npos)
                    return {};
                const std::string variable = "v" + std::to_string(count++);
                if (!variables.set(variable.c_str(), condition.value.c_str()))
                    return {};
                query += "[@" + condition.attribute + "=$" + variable + "]";
            }
        }
        const pugi::xpath_query compiled(query.c_str(), &variables);
        return document.select_node(compiled).node();
    }
    catch (const std::exception&)
    {
        // A query that does not compile or runs out of memory finds nothing.
        return {};
    }
}
}
