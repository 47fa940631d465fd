// Changing root's password on the running node.
#pragma once

// Sets root's password through a small passwd script: 0 when the script
// ended with status 0, else 1.
int change_root_password(const char* password);
