// Reading of each service's configuration file into its row of the service table.
#pragma once

void ReadServiceConfigs();
