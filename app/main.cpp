// The program's entry: the framework runs theApp.
#include "platform/ui/win_app.h"

int main(int argc, char** argv) { return AfxWinMain(argc, argv); }
