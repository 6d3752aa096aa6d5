# cmake-lint settings for scripts/check-format.sh. The CMake files are
# formatted by hand (one item a line where a list grows, a closing parenthesis
# where it reads best), which cmake-format would reflow, so only the lint runs:
# it finds statements run together, broken indentation and misnamed variables.
# Line length is left to the writer, and variables of a directory are named in
# lower case (pimbridge_...), as the project's own private names.
with section("lint"):
  disabled_codes = ["C0301"]
  private_var_pattern = "_?[a-z][0-9a-z_]*"
