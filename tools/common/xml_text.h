// Text placed inside an SVG (XML) document: the four characters that would
// end an attribute or start markup replaced by their entities.
#pragma once

#include <string>

namespace tools {

std::string XmlEscape(const std::string& text);

}  // namespace tools
