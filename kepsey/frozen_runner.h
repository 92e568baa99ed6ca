// kepsey's program body: runs the frozen module "__main__" on the
// interpreter embedded in libvorlane.so.
#pragma once

struct _frozen;

namespace vorlane::kepsey {

// Points the interpreter's frozen-module table at the program's own table
// ({name, marshalled code, size} records ended by an empty record). Call
// before the interpreter starts.
void set_frozen_table(const struct _frozen* table);

// Stores the instance handle, installs the table, starts the interpreter with
// the process's arguments as the script's argument vector and imports the
// frozen "__main__" (a fatal error "__main__ not frozen" when the table has
// none). PYTHONINSPECT (set, not empty): afterwards, with standard input a
// terminal, the interactive loop runs on it. PYTHONUNBUFFERED (set, not
// empty): the standard streams are unbuffered. Returns the exit code: 0, or 1
// when the script raised an exception (printed on standard error) or the
// interactive loop failed.
int WinMain(const struct _frozen* table, int argc, char** argv);

}  // namespace vorlane::kepsey
