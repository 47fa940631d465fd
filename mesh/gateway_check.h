// Is the mesh connected: batman gateways that answer a ping, and the
// dashboard's word on the Internet.
#pragma once

// Reads the gateway table up to `readings` times, 30 s apart, pinging every
// gateway line; stops after the first reading in which one answered. The
// number that answered in the last reading: 0 when none did, and also when
// there is no table (batman-adv not loaded), which is never an error here.
int bat_ping(int readings);

// 0 when the dashboard says "Succeed" to the server ping, else 1 (also when
// it cannot be reached).
int check_internet();
