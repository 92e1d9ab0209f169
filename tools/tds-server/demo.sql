-- The demo database behind scripts/run.sh: two versions of an orders table
-- to compare, plus tables that exercise the table list. The second demo
-- database, Sales_Restore, is this script followed by demo-restore.sql.

create table Customers (
    CustomerID int not null primary key,
    Name nvarchar(60) not null,
    City nvarchar(40),
    CreditLimit money,
    IsActive bit not null,
    CreatedAt datetime
);
insert into Customers values (1, N'Zoë Müller', N'Zürich', 5000, 1, '2019-03-14 09:30:00');
insert into Customers values (2, N'Łukasz Nowak', N'Kraków', 12000.50, 1, '2020-11-02 16:05:12.350');
insert into Customers values (3, N'Ana Souza', N'São Paulo', NULL, 0, '2021-06-30 00:00:00');
insert into Customers values (4, N'John Smith', N'Leeds', 750.25, 1, '2022-01-09 12:00:00');
insert into Customers values (5, N'Chloé Dubois', NULL, 3000, 1, NULL);

create table Orders (
    OrderID int not null primary key,
    CustomerID int not null,
    OrderDate datetime not null,
    Amount decimal(12,2),
    Status nvarchar(20),
    Shipped bit,
    Note nvarchar(200)
);
insert into Orders values (1001, 1, '2023-12-01 10:15:00', 250.00, N'Closed', 1, NULL);
insert into Orders values (1002, 2, '2023-12-03 14:40:30', 1999.99, N'Closed', 1, N'Express');
insert into Orders values (1003, 3, '2023-12-05 09:00:00', 15.50, N'Open', 0, NULL);
insert into Orders values (1004, 1, '2023-12-10 17:20:00', 480.00, N'Closed', 1, N'Gift wrap');
insert into Orders values (1005, 4, '2023-12-12 08:05:45', 72.10, N'Cancelled', 0, N'Customer request');
insert into Orders values (1006, 5, '2023-12-20 11:11:11', 300.00, N'Open', 0, NULL);
insert into Orders values (1007, 2, '2023-12-28 19:45:00', 1234.56, N'Closed', 1, NULL);

-- The same orders a year on: a few fields changed, two orders added.
create table Orders2024 (
    OrderID int not null primary key,
    CustomerID int not null,
    OrderDate datetime not null,
    Amount decimal(12,2),
    Status nvarchar(20),
    Shipped bit,
    Note nvarchar(200)
);
insert into Orders2024 values (1001, 1, '2023-12-01 10:15:00', 250.00, N'Closed', 1, NULL);
insert into Orders2024 values (1002, 2, '2023-12-03 14:40:30', 2099.99, N'Closed', 1, N'Express');
insert into Orders2024 values (1003, 3, '2023-12-05 09:00:00', 15.50, N'Closed', 1, N'Delivered late');
insert into Orders2024 values (1004, 1, '2023-12-10 17:20:00', 480.00, N'Closed', 1, N'Gift wrap');
insert into Orders2024 values (1005, 4, '2023-12-12 08:05:45', 72.10, N'Cancelled', 0, N'Customer request');
insert into Orders2024 values (1006, 5, '2024-01-02 11:11:11', 300.00, N'Open', 0, NULL);
insert into Orders2024 values (1007, 2, '2023-12-28 19:45:00', 1234.56, N'Closed', 1, N'Prüfung ok');
insert into Orders2024 values (1008, 3, '2024-01-15 13:00:00', 89.90, N'Open', 0, NULL);
insert into Orders2024 values (1009, 5, '2024-02-29 23:59:59.997', 4100.00, N'Open', 0, N'Leap day');

-- The columns of Orders in another order.
create table OrdersByCustomer (
    CustomerID int not null,
    OrderID int not null primary key,
    Status nvarchar(20),
    Amount decimal(12,2),
    OrderDate datetime not null,
    Note nvarchar(200),
    Shipped bit
);
insert into OrdersByCustomer select CustomerID, OrderID, Status, Amount, OrderDate, Note, Shipped from Orders;

create table Archive (
    OrderID int not null primary key,
    ArchivedAt datetime,
    Reason nvarchar(100)
);

create table SysLog (
    LogID int not null primary key,
    LoggedAt datetime not null,
    Level varchar(10),
    Message nvarchar(400)
);
insert into SysLog values (1, '2024-01-01 00:00:01', 'INFO', N'Year-end close finished');
insert into SysLog values (2, '2024-01-02 08:30:00', 'WARN', N'Order 1006 date corrected');

create view ActiveCustomers as
    select CustomerID, Name, City from Customers where IsActive = 1;

-- A second schema with a table of the same name.
create table [sales].[Orders] (
    OrderID int not null primary key,
    Region nvarchar(30),
    Target money
);
insert into [sales].[Orders] values (1, N'North', 100000);
insert into [sales].[Orders] values (2, N'South', 85000.75);
