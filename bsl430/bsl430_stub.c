int BSL_NumOfUSBDevices(void) { return 0; }
