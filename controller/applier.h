// What every section applier receives: the key and value of one content
// line of the dashboard's reply, and the controller's NodeConfig.
#pragma once

struct NodeConfig;

// The value is "" when the line has only one word; a present value is never
// empty, since the parser splits lines at blanks.
using Applier = void (*)(const char* key, const char* value, NodeConfig& config);

inline bool has_value(const char* value) { return value && *value; }
