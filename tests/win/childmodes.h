#pragma once
// Work the test program does as a child process ("another program"):
// argv[0] is the mode, such as "--child-copy".
int RunChildMode(int argc, char **argv);
