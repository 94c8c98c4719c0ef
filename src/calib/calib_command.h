/*
** calib_command.h -- `morvenda calibrate`: a herd's bio file from its
** own records.
*/
#ifndef MORVENDA_CALIB_COMMAND_H
#define MORVENDA_CALIB_COMMAND_H

int calibrate_command(int argc, char** argv);

#endif
