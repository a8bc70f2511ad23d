// keyhaven-keeper.exe: the service that keeps the day's log files ready
// (keeper_service.h); it takes no command line.
#include "keeper/keeper_service.h"

int main()
{
    return keyhaven::keeper::run_service();
}
