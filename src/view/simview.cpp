// The simulation view's shared state.
#include "view/simview.h"

int32_t sim_playing = 0;
double sim_progress = 0.0;
int32_t sim_updating = 0;
int32_t sim_simop = -1;
int32_t sim_regenerate = 0;
