#include "cli/closing_pause.h"

bool pauses_before_closing(const ConsoleSituation& console) {
    return console.processes == 1 && console.inputIsConsole;
}
