#include "delogo.h"
Settings sw;
#ifndef DELOGO_NO_MAIN
int main() { return 0; }
#endif
