#pragma once
// Text helpers of the /validate and /list modes: the string table's lines
// filled in, and node records shown as they are written to the flash.
#include <initializer_list>
#include <string>

#include "platform/string_resources.h"
#include "xml/node_select.h"

namespace kvx {

// String `id` of the table with its "%s" placeholders filled, in order.
std::string ModeText(StringResources& strings, int id, std::initializer_list<std::string> values = {});

// A record as a command-store file holds it: its name, then each attribute
// as name="value", separated by blanks.
std::string RecordText(const XMLNode& record);

// Records as RecordText, separated by "; ".
std::string RecordsText(const XMLNodeList& records);

}  // namespace kvx
