#pragma once
// libjpeg-turbo's version and copyright text as the linked library reports it.
const char *JPGVersion();
