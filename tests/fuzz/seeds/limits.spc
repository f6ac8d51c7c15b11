* numbers at the edges of their ranges
iterlim 2147483647
sigfig 60
steplen 0.99
maxit 2147483648
