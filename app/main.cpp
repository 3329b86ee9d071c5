#include "update_procedure.h"

// Arguments are ignored: the run is the same every time.
int main() { return RunUpdateProcedure(); }
