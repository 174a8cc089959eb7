int DriverEntry(void*a,void*b){(void)a;(void)b;return 0;}
