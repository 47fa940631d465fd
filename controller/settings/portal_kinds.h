// What the controller knows of each portal daemon: its files, the key
// separator of its configuration and its init script's commands.
#pragma once

struct PortalKind {
  const char* name;  // also its process name
  const char* config_file;
  const char* new_settings;  // written by the reply parser
  char separator;            // between key and value in both files
  const char* start;
  const char* stop;
};

// The kind's row; nullptr for kind 2 and anything else.
const PortalKind* portal_kind_info(int kind);
