#include "controller/download_guard.h"

#include "common/output.h"

bool refuse_option_like(const char* what, const char* value) {
  if (!value || value[0] != '-') return false;
  out_printf("%s refused: \"%s\" starts with '-'\n", what, value);
  return true;
}
