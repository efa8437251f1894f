// VigilNT: the UPS agent daemon (see agent/service/service_shell.h).
#include "agent/service/service_shell.h"

int main(int argc, char** argv) { return VigilNtMain(argc, argv); }
