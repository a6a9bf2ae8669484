#include "app/VarnelApp.h"

int main(int argc, char** argv) { return app::RunVarnel(argc, argv); }
