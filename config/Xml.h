// The provider's XML library in one include: tree, parser, writer, escaping,
// files and the reply builder.
#pragma once

#include "config/XMLAccumulator.h"
#include "config/XmlEscape.h"
#include "config/XmlFile.h"
#include "config/XmlNode.h"
#include "config/XmlParser.h"
#include "config/XmlWriter.h"
