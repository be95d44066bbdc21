#pragma once

// Answers --help and --version before the application object exists, so that
// both work without a display. Returns the exit status, or -1 when the
// command line asks for neither.
int AnswerHelpOrVersion(int argc, char** argv);
