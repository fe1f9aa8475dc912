// Finding and creating the elements that a path of xml_path.h names, on a pugixml document.
#pragma once

#include <vector>

#include <pugixml.hpp>

#include "runtime/xml_path.h"

namespace kestrav
{
// The first element in document order that `steps` select from the document; an empty node when
// there is none. The values of the conditions reach the query as variables, never as query text.
pugi::xml_node SelectFirstElement(const pugi::xml_document& document, const std::vector<XmlPathStep>& steps);
}
