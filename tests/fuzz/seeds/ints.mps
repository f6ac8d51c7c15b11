NAME          MARKERS
ROWS
 N  OBJ
 L  C1
COLUMNS
    MARKER                 'MARKER'                 'INTORG'
    A         OBJ          1.0   C1           2.0
    MARKER                 'MARKER'                 'INTEND'
    B         OBJ          1.0   C1           1.0
RHS
    RHS       C1           3.0
BOUNDS
 BV BND       A
 MI BND       B
 PL BND       B
ENDATA
