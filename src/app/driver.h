/*
** driver.h -- the run driver: one run of the model from the command line.
*/
#ifndef MORVENDA_DRIVER_H
#define MORVENDA_DRIVER_H

/* The whole run; returns the exit status (0 completed, 1 not completed). */
int MORVENDA_RUN(int argc, char** argv);

#endif
